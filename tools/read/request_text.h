// The text a reader is given for a captured request, as a server would hand it over, and the
// form the capture was recognised in.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace tovarine_tool {

// The forms a request is captured in. Recognition tries them in this order, after skipping
// empty lines ("\n" or "\r\n") before the capture; the query form takes whatever else remains.
enum class Form {
    kRawRequest,   // "METHOD TARGET HTTP/x" and a line end, then header lines
    kRequestLine,  // "METHOD TARGET HTTP/x" alone, or "METHOD TARGET" without a version
    kCommonLog,    // host ident user [time] "request line" status bytes
    kCombinedLog,  // the same, then "referer" "user agent"
    kUrl,          // scheme://host[:port]/path?query[#fragment]
    kPathQuery,    // /path?query, or path?query where the path holds no "=", "&" or blank
    kQuery,        // the text from "?" on, or the parameters themselves
};

// The form's name in explanations: raw-request, request-line, common-log, combined-log, url,
// path-query, query.
const char *FormName(Form form);

struct Capture {
    Form form = Form::kQuery;
    std::string text;        // what the library is handed
    size_t blank_lines = 0;  // empty lines skipped before the capture
    std::string version;     // request lines and log lines: "HTTP/1.1", empty when none
};

// Recognises one captured request and builds the text a server hands the library:
//  - a raw request or a request line with a version: from the "?" of the target on, header lines
//    included (without a "?": from the blank after the target on);
//  - a request line without a version: the target from its "?" to the line end (nothing when the
//    target holds no "?"); what follows the line is not part of that request;
//  - a log line: the logged request line handed as a request line is, " HTTP/x" included; for
//    the Combined format the logged user agent follows as the request's one header line
//    ("\r\nUser-Agent: ...\r\n\r\n", left out when logged as "-" and for a request without a
//    version, which has no header lines). In quoted log fields "\"",
//    "\\" and "\xNN" stand for the byte they escape;
//  - a URL: its query, from the "?" up to a "#" (a client never sends the fragment), nothing
//    when it has no "?"; a path?query: the text from the "?" on, to the line end;
//  - anything else (the query form): the input as it is, less one trailing line end ("\n" or
//    "\r\n"), which would otherwise end up in the last value.
Capture Recognise(std::string_view input);

}  // namespace tovarine_tool
