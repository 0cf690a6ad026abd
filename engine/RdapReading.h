#pragma once

// What an RDAP answer (RFC 9083) says about a name: the verdict, and for a
// registered name the dates and the registrant's e-mail in the forms the
// result line shows. Pure functions of the answer; no network, no Qt, and no
// input of any shape (nesting, numbers, types, sizes) makes them throw.

#include "engine/RdapClient.h"
#include "engine/Verdict.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

struct TRdapReading {
    TVerdict Verdict;
    // Registered only: the dates of the "registration" and "expiration"
    // events ("1997-09-15T07 00 00Z", as the port-43 path writes an ISO date)
    // and the registrant's e-mail in GBK; "" for each one the answer lacks
    // (an e-mail that is redacted counts as lacking).
    std::string RegTime;
    std::string ExpTime;
    std::string Email;
};

// Reads one answer of QueryRdap for name, the A-label that was asked:
//   404 from under answer.Base (the suffix's own service)  free
//   404 from anywhere else (a redirect's target)           unknown, failed
// ("under" as IsUrlUnderBase reads it: decoded, dot segments resolved, the
// path's case kept)
//   200, a "domain" object for name                        registered
//   429                                                    unknown, throttled (Retry-After)
//   5xx                                                    unknown, unavailable
//   a bound, a broken connection                           unknown, cut or failed
//   anything else, a body that is no such object           unknown, failed
TRdapReading ReadRdapAnswer(const TRdapAnswer& answer, std::string_view name,
                            const TRdapBounds& bounds = TRdapBounds{});

// An RFC 3339 date ("2014-11-12T19:15:55.283Z", "1997-09-15T07:00:00.000+0000",
// "2008-08-18T13:19:55" taken as UTC) in the result line's form, in UTC and
// without fractions: "2014-11-12T19 15 55Z". A date alone stays "2014-11-12".
// "" for anything else.
std::string FormatRdapDate(std::string_view eventDate);

// The wait a Retry-After value asks for: seconds ("120") or an HTTP-date
// counted from now; a date already past is no wait (0 s). At most a day.
// nullopt when the value is neither.
std::optional<std::chrono::seconds> ReadRetryAfter(std::string_view value,
                                                   std::chrono::system_clock::time_point now);

// The body as indented JSON (UTF-8) for people, or "" when it is no JSON or
// nested deeper than any RDAP answer is.
std::string IndentRdapJson(std::string_view body);
