// Writing the waterfall page. Every text that comes from the result document goes through
// escape_html; every number is the viewer's own.
#include "view/page.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <sstream>
#include <vector>

#include "frame/system.h"

namespace Network_tools::View {

namespace {

constexpr double bar_height_px = 12;
constexpr double row_height_px = 16;
// Bars shorter than this get a tick at their start, so that a 0 ms level stays visible.
constexpr double thinnest_visible_px = 2;
constexpr std::size_t answers_shown = 6;

constexpr const char* style = R"(
body { font: 13px/1.45 system-ui, sans-serif; margin: 24px; color: #1d2430; background: #fff; }
h1 { font-size: 18px; margin: 0 0 4px; }
p.summary { margin: 0 0 4px; color: #475467; }
p.summary .error, .waterfall .error { color: #b42318; }
table.waterfall { border-collapse: collapse; margin-top: 14px; }
.waterfall th, .waterfall td { padding: 3px 8px; text-align: left; vertical-align: middle;
  border-bottom: 1px solid #eaecf0; white-space: nowrap; }
.waterfall thead th { font-weight: 600; color: #475467; border-bottom: 1px solid #98a2b3; }
.waterfall td.outcome { white-space: normal; min-width: 180px; max-width: 280px;
  overflow-wrap: anywhere; }
.waterfall td.ping { white-space: normal; min-width: 150px; max-width: 230px; }
.waterfall td.time { text-align: right; font-variant-numeric: tabular-nums; }
.waterfall .detail, .waterfall .type { color: #667085; }
.waterfall tr.server td { font-size: 12px; color: #475467; }
.waterfall tr.server th { padding-left: 22px; font-weight: normal; color: #667085; }
.waterfall tr.alias-start td { background: #f4f3ff; color: #5925dc; font-weight: 600; }
.badge { display: inline-block; margin-left: 4px; padding: 0 6px; border-radius: 8px;
  font-size: 11px; font-weight: 600; }
.badge.alias { background: #ebe9fe; color: #5925dc; }
.badge.cached { background: #e0f2fe; color: #026aa2; }
.badge.failed { background: #fee4e2; color: #b42318; }
svg { display: block; overflow: visible; }
svg .lane { fill: #f2f4f7; }
svg .axis line { stroke: #98a2b3; }
svg .axis text { font-size: 10px; fill: #667085; }
rect.level-bar { fill: #1570ef; }
rect.server-bar { fill: #53b1fd; }
rect.failed { fill: #f04438; }
rect.cached, rect.cached-mark { fill: url(#cached-hatch); }
line.tick { stroke: #1d2430; stroke-width: 1.5; }
svg.rtts { display: inline-block; vertical-align: middle; margin-right: 6px; }
.rtt { fill: #16b364; }
.rtt.lost { fill: #f04438; }
.legend span { display: inline-block; margin-right: 14px; }
.legend svg { display: inline-block; vertical-align: middle; margin-right: 4px; }
)";

std::string format_number(double value) {
  return format_text("%.2f", value);
}

std::string milliseconds(std::int64_t value) {
  return std::to_string(value) + " ms";
}

// A time to the microsecond when the result has it ("0.312 ms"), else in whole milliseconds.
std::string milliseconds(std::int64_t value, std::optional<std::int64_t> microseconds) {
  if (!microseconds) return milliseconds(value);
  return format_text("%.3f ms", static_cast<double>(*microseconds) / 1000);
}

// A mark of the time line: whole milliseconds from 100 ms on, three digits below.
std::string mark_text(double milliseconds) {
  return milliseconds >= 100 ? format_text("%.0f ms", milliseconds)
                             : format_text("%.3g ms", milliseconds);
}

// An error key without its tool's prefix: "qv-dns.results.error.timeout" reads "timeout".
std::string short_key(const std::string& key) {
  for (const char* prefix : {"qv-dns.results.error.", "qv-ping.results.error."}) {
    const std::string_view start(prefix);
    if (key.size() > start.size() && key.compare(0, start.size(), start) == 0) {
      return key.substr(start.size());
    }
  }
  return key;
}

// The key shortened, with the whole key as its tooltip.
std::string error_text(const std::string& key) {
  if (key.empty()) return "<span class=\"error\">no answer code</span>";
  return "<span class=\"error\" title=\"" + escape_html(key) + "\">" + escape_html(short_key(key)) +
         "</span>";
}

// The time line shared by every row: milliseconds to pixels.
class Chart {
 public:
  // A span of 0 ms (every level under a millisecond) is drawn as 1 ms.
  explicit Chart(std::int64_t span_ms)
      : span_ms_(static_cast<double>(std::max<std::int64_t>(span_ms, 1))),
        scale_(chart_width_px / span_ms_) {}

  // One row's lane with a bar from `start_ms` lasting `duration_ms`, and `title` as tooltip.
  std::string bar(const std::string& classes, std::int64_t start_ms, std::int64_t duration_ms,
                  const std::string& title) const {
    const double x = static_cast<double>(start_ms) * scale_;
    const double width = static_cast<double>(duration_ms) * scale_;
    const double y = (row_height_px - bar_height_px) / 2;
    std::string svg = "<svg class=\"track\" width=\"" + format_number(chart_width_px) +
                      "\" height=\"" + format_number(row_height_px) + "\">";
    svg += "<rect class=\"lane\" width=\"" + format_number(chart_width_px) + "\" height=\"" +
           format_number(row_height_px) + "\"/>";
    svg += "<rect class=\"" + classes + "\" x=\"" + format_number(x) + "\" y=\"" +
           format_number(y) + "\" width=\"" + format_number(width) + "\" height=\"" +
           format_number(bar_height_px) + "\"><title>" + escape_html(title) + "</title></rect>";
    if (width < thinnest_visible_px) {
      svg += "<line class=\"tick\" x1=\"" + format_number(x) + "\" x2=\"" + format_number(x) +
             "\" y1=\"1\" y2=\"" + format_number(row_height_px - 1) + "\"/>";
    }
    // A level from the cache took no time: a mark beside its start says where it came from.
    if (classes.find("cached") != std::string::npos) {
      const double mark_x = x + 15 <= chart_width_px ? x + 3 : x - 15;
      svg += "<rect class=\"cached-mark\" x=\"" + format_number(mark_x) + "\" y=\"" +
             format_number(y) + "\" width=\"12\" height=\"" + format_number(bar_height_px) + "\"/>";
    }
    return svg + "</svg>";
  }

  // The scale above the bars: five labelled marks from 0 to the whole span.
  std::string axis() const {
    std::string svg =
        "<svg class=\"axis\" width=\"" + format_number(chart_width_px) + "\" height=\"22\">";
    for (int mark = 0; mark <= 4; ++mark) {
      const double x = chart_width_px * mark / 4;
      const char* anchor = mark == 0 ? "start" : mark == 4 ? "end" : "middle";
      svg += "<line x1=\"" + format_number(x) + "\" x2=\"" + format_number(x) +
             "\" y1=\"15\" y2=\"22\"/><text x=\"" + format_number(x) +
             "\" y=\"11\" text-anchor=\"" + anchor + "\">" + mark_text(span_ms_ * mark / 4) +
             "</text>";
    }
    return svg + "</svg>";
  }

 private:
  double span_ms_;
  double scale_;
};

std::string server_text(const Server_query& server) {
  std::string text = escape_html(server.name);
  if (!server.address.empty() && server.address != server.name) {
    text += " <span class=\"detail\">" + escape_html(server.address) + "</span>";
  }
  return text;
}

// What the level's answer says: its records, the referral, the negative answer.
std::string records_text(const Level& level) {
  if (!level.answers.empty()) {
    std::string text;
    const std::size_t shown = std::min(level.answers.size(), answers_shown);
    for (std::size_t index = 0; index < shown; ++index) {
      text += (index == 0 ? "" : "<br>") + escape_html(level.answers[index]);
    }
    if (level.answers.size() > shown) {
      text += "<br><span class=\"detail\">and " + std::to_string(level.answers.size() - shown) +
              " more</span>";
    }
    return text;
  }
  if (!level.referral_zone.empty()) {
    std::string servers;
    for (const std::string& server : level.name_servers) {
      servers += (servers.empty() ? "" : ", ") + escape_html(server);
    }
    return "referral to " + escape_html(level.referral_zone) + " <span class=\"detail\">" +
           servers + "</span>";
  }
  if (!level.negative_zone.empty()) {
    return "no such record <span class=\"detail\">(SOA of " + escape_html(level.negative_zone) +
           ")</span>";
  }
  return "<span class=\"detail\">no records</span>";
}

// The server the level's row speaks for: the one that answered, else the last one asked.
const Server_query* answering_server(const Level& level) {
  for (const Server_query& server : level.servers) {
    if (!server.failed()) return &server;
  }
  return level.servers.empty() ? nullptr : &level.servers.back();
}

// A probe's round-trip time in milliseconds; 0 for anything that is not a finite number.
double probe_time(const std::string& text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && std::isfinite(value) ? value : 0;
}

// One column per probe, as tall as its round-trip time against the longest; a lost probe is a
// short red mark.
std::string round_trip_chart(const std::vector<std::string>& times) {
  double longest = 0;
  for (const std::string& time : times) longest = std::max(longest, probe_time(time));
  std::string svg =
      "<svg class=\"rtts\" width=\"" + std::to_string(times.size() * 5) + "\" height=\"12\">";
  for (std::size_t probe = 0; probe < times.size(); ++probe) {
    const bool lost = times[probe] == "null";
    const double height =
        lost ? 3 : std::max(1.0, longest > 0 ? 12 * probe_time(times[probe]) / longest : 1);
    svg += "<rect class=\"rtt" + std::string(lost ? " lost" : "") + "\" x=\"" +
           std::to_string(probe * 5) + "\" y=\"" + format_number(12 - height) +
           "\" width=\"4\" height=\"" + format_number(height) + "\"/>";
  }
  return svg + "</svg>";
}

// A server's ping: its round-trip times in probe order (a lost probe as a dash), how long the
// ping took, its error.
std::string ping_text(const Server_query& server) {
  std::string text;
  const std::vector<std::string>& times = server.ping_round_trips;
  if (!times.empty()) {
    const auto lost = static_cast<std::size_t>(std::count(times.begin(), times.end(), "null"));
    text = round_trip_chart(times);
    if (lost == times.size()) {
      text += "all " + std::to_string(lost) + " probes lost";
    } else {
      for (std::size_t probe = 0; probe < times.size(); ++probe) {
        text += (probe == 0 ? "" : " &#183; ") +
                (times[probe] == "null" ? std::string("&#8211;") : escape_html(times[probe]));
      }
      text += " ms";
    }
  }
  if (server.ping_duration_ms) {
    text += " <span class=\"detail\">in " + format_number(*server.ping_duration_ms) + " ms</span>";
  }
  if (!server.ping_error.empty()) text += " " + error_text(server.ping_error);
  return text;
}

// Writes the page of one waterfall, row by row.
class Page_writer {
 public:
  explicit Page_writer(const Waterfall& waterfall)
      : waterfall_(waterfall), chart_(waterfall.span_ms()) {}

  std::string write() {
    const std::string test = waterfall_.traversal ? "DNS traversal test" : "DNS experience test";
    const std::string title = test + (waterfall_.url.empty() ? "" : " of " + waterfall_.url);
    out_ << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         << "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
         << "style-src 'unsafe-inline'\">\n<title>" << escape_html(title) << "</title>\n<style>"
         << style << "</style>\n</head>\n<body>\n"
         << "<svg width=\"0\" height=\"0\" style=\"position:absolute\"><defs>"
         << "<pattern id=\"cached-hatch\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" "
         << "patternTransform=\"rotate(45)\"><rect width=\"6\" height=\"6\" fill=\"#b2ddff\"/>"
         << "<rect width=\"3\" height=\"6\" fill=\"#1570ef\"/></pattern></defs></svg>\n"
         << "<h1>" << escape_html(title) << "</h1>\n";
    summary();
    table();
    legend();
    out_ << "</body>\n</html>\n";
    return out_.str();
  }

 private:
  void summary() {
    int aliases = 0;
    for (const Level& level : waterfall_.levels) aliases = std::max(aliases, level.alias_depth);
    out_ << "<p class=\"summary\">" << waterfall_.levels.size() << " reported level"
         << (waterfall_.levels.size() == 1 ? "" : "s") << ", " << aliases << " alias"
         << (aliases == 1 ? "" : "es") << " followed, test time "
         << (waterfall_.duration_ms ? milliseconds(*waterfall_.duration_ms, waterfall_.duration_us)
                                    : "not reported")
         << "</p>\n";
    if (!waterfall_.error_code.empty()) {
      out_ << "<p class=\"summary\">Ended with " << error_text(waterfall_.error_code);
      if (!waterfall_.error_details.empty()) {
        out_ << ": " << escape_html(waterfall_.error_details);
      }
      out_ << "</p>\n";
    }
    if (waterfall_.network_outage) {
      out_ << "<p class=\"summary\">Network outage: "
           << (*waterfall_.network_outage ? "<span class=\"error\">detected</span>"
                                          : "not detected")
           << "</p>\n";
    }
  }

  void table() {
    out_ << "<table class=\"waterfall\">\n<thead><tr><th>Level</th><th>Question</th>"
         << "<th>Server</th><th>Answer or error</th><th class=\"time\">Time</th>"
         << (waterfall_.traversal ? "<th>Ping</th>" : "") << "<th>" << chart_.axis()
         << "</th></tr></thead>\n<tbody>\n";
    std::int64_t start_ms = 0;
    int alias_depth = 0;
    const std::vector<Level>& levels = waterfall_.levels;
    for (std::size_t index = 0; index < levels.size(); ++index) {
      const Level& level = levels[index];
      if (level.alias_depth > alias_depth) {
        out_ << "<tr class=\"alias-start\"><td colspan=\"" << (waterfall_.traversal ? 7 : 6)
             << "\">Alias " << level.alias_depth << ": resolving "
             << escape_html(level.question_name) << "</td></tr>\n";
      }
      alias_depth = level.alias_depth;
      const bool to_alias =
          index + 1 < levels.size() && levels[index + 1].alias_depth > level.alias_depth;
      level_row(level, start_ms, to_alias);
      if (waterfall_.traversal || level.servers.size() > 1) server_rows(level, start_ms);
      start_ms += level.duration_ms();
    }
    out_ << "</tbody>\n</table>\n";
  }

  void level_row(const Level& level, std::int64_t start_ms, bool to_alias) {
    const Server_query* server = answering_server(level);
    const bool failed = server == nullptr || server->failed();
    const bool cached = level.cached();
    const auto failures = std::count_if(level.servers.begin(), level.servers.end(),
                                        [](const Server_query& each) { return each.failed(); });
    const std::string outcome =
        failed && server != nullptr ? error_text(server->status) : records_text(level);

    out_ << "<tr class=\"level" << (failed ? " failed" : "") << (cached ? " cached" : "")
         << "\"><th>Level " << level.id;
    if (level.alias_depth > 0) {
      out_ << "<span class=\"badge alias\">alias " << level.alias_depth << "</span>";
    }
    if (cached) out_ << "<span class=\"badge cached\">cached</span>";
    if (failures > 0 && !(failed && level.servers.size() == 1)) {
      out_ << "<span class=\"badge failed\">" << failures << " failed</span>";
    }
    out_ << "</th><td>" << escape_html(level.question_name) << " <span class=\"type\">"
         << escape_html(level.question_type) << "</span> <span class=\"detail\">"
         << escape_html(level.protocol) << "</span></td><td>" << server_cell(level, server)
         << "</td><td class=\"outcome\">" << outcome
         << (to_alias ? "<span class=\"badge alias\">alias &#8594;</span>" : "")
         << "</td><td class=\"time\">" << milliseconds(level.duration_ms(), level.duration_us())
         << "</td>" << (waterfall_.traversal ? "<td></td>" : "") << "<td>"
         << chart_.bar(
                std::string("level-bar") + (failed ? " failed" : "") + (cached ? " cached" : ""),
                start_ms, level.duration_ms(), bar_title(level, server))
         << "</td></tr>\n";
  }

  // The server a level's row names: the one that answered, or how many a traversal asked.
  std::string server_cell(const Level& level, const Server_query* server) const {
    if (server == nullptr) return "<span class=\"detail\">none</span>";
    if (waterfall_.traversal && level.servers.size() > 1) {
      return std::to_string(level.servers.size()) + " servers";
    }
    return server_text(*server) + identity_text(*server);
  }

  void server_rows(const Level& level, std::int64_t start_ms) {
    for (const Server_query& server : level.servers) {
      const std::int64_t duration = server.duration_ms.value_or(0);
      out_ << "<tr class=\"server" << (server.failed() ? " failed" : "")
           << "\"><th></th><td></td><td>" << server_text(server) << identity_text(server)
           << "</td><td class=\"outcome\">"
           << (server.failed() ? error_text(server.status) : "answered")
           << "</td><td class=\"time\">"
           << (server.duration_ms ? milliseconds(duration, server.duration_us)
                                  : std::string("no time"))
           << "</td>"
           << (waterfall_.traversal ? "<td class=\"ping\">" + ping_text(server) + "</td>" : "")
           << "<td>"
           << chart_.bar(std::string("server-bar") + (server.failed() ? " failed" : "") +
                             (server.cached ? " cached" : ""),
                         start_ms, duration, server.name + " " + server.address)
           << "</td></tr>\n";
      start_ms += duration;
    }
  }

  static std::string identity_text(const Server_query& server) {
    std::string text;
    if (!server.nsid.empty()) {
      text += " <span class=\"detail\">NSID " + escape_html(server.nsid) + "</span>";
    }
    if (!server.hostname_bind.empty()) {
      text +=
          " <span class=\"detail\">hostname.bind " + escape_html(server.hostname_bind) + "</span>";
    }
    return text;
  }

  static std::string bar_title(const Level& level, const Server_query* server) {
    std::string title = "Level " + std::to_string(level.id) + ": " + level.question_name + " " +
                        level.question_type;
    if (server != nullptr) title += " asked of " + server->name + " " + server->address;
    return title + ", " + milliseconds(level.duration_ms(), level.duration_us());
  }

  void legend() {
    const auto swatch = [](const std::string& classes) {
      return "<svg width=\"18\" height=\"12\"><rect class=\"" + classes +
             "\" width=\"18\" height=\"12\"/></svg>";
    };
    out_ << "<p class=\"summary legend\"><span>" << swatch("level-bar") << "level answered</span>"
         << "<span>" << swatch("level-bar failed") << "failed</span><span>"
         << swatch("level-bar cached") << "from the cache (0 ms)</span><span>"
         << swatch("server-bar") << "one server of a level</span><span>"
         << "<svg width=\"6\" height=\"12\"><line class=\"tick\" x1=\"3\" x2=\"3\" y1=\"0\" "
         << "y2=\"12\"/></svg>too short to draw</span></p>\n";
  }

  const Waterfall& waterfall_;
  Chart chart_;
  std::ostringstream out_;
};

}  // namespace

std::string escape_html(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) {
          escaped += format_text("\\x%02x", static_cast<unsigned char>(c));
        } else {
          escaped += c;
        }
    }
  }
  return escaped;
}

std::string render_page(const Waterfall& waterfall) {
  return Page_writer(waterfall).write();
}

}  // namespace Network_tools::View
