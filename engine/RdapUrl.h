#pragma once

// How RDAP URLs are judged: whether a base the registry data names may stand,
// and whether an answer came from under the base that was asked, read the
// way the answering server reads its URL. Pure functions of the text (libcurl's
// URL parser, no network); no Qt here; safe on any thread.

#include <string>
#include <string_view>

// Why an RDAP base from registry data (a servers file, an RDAP bootstrap)
// may not stand, or "" when it may: its host must be a host name (no address
// of any form), with no user name and no port but 443. Its scheme is judged
// when it is asked (https only). A local server is reached through
// TAVIREL_RDAP_BASE, never through data.
std::string RdapBaseFormProblem(std::string_view base);

// Whether url lies under base: the same scheme, host (in any case) and port
// (the scheme's own when none is named), and a path that, percent-decoded and
// with its dot segments resolved, begins with the base's path, case for case.
// A path with an encoded slash or backslash cannot be judged, nor can a URL
// that does not parse: neither lies under any base.
bool IsUrlUnderBase(std::string_view url, std::string_view base);
