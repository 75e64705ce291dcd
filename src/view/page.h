// The HTML page of a waterfall: one self-contained document, styled with inline CSS and drawn
// with inline SVG, without script and without anything to fetch.
#ifndef NETWORK_TOOLS_VIEW_PAGE_H_
#define NETWORK_TOOLS_VIEW_PAGE_H_

#include <string>
#include <string_view>

#include "view/waterfall.h"

namespace Network_tools::View {

// The width of the time line in CSS pixels: a level of the test's whole duration fills it.
inline constexpr double chart_width_px = 560;

// The page of `waterfall`: a summary of the test, then one row per reported level in order
// with its bar on a common time line (x: when the level started, width: how long it took),
// the servers of a level that had more than one (failed ones with their errors, traversal
// tests with their pings) in rows of their own below it.
std::string render_page(const Waterfall& waterfall);

// `text` fit for HTML text and attribute values: & < > " ' become references, and control
// characters the readable \xNN. Example: escape_html("<b>") is "&lt;b&gt;".
std::string escape_html(std::string_view text);

}  // namespace Network_tools::View

#endif  // NETWORK_TOOLS_VIEW_PAGE_H_
