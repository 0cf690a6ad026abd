#pragma once

// The routines every part of the program shares: the domain-name rule, the
// choice of WHOIS server, the WHOIS exchange, the reading of replies, the
// address lookup and the pattern expressions. Texts are GBK bytes. No Qt here;
// every routine is safe on any thread and none throws to its caller.

#include "engine/WhoisExchange.h"

#include <string>
#include <string_view>
#include <vector>

// --- Domain names and WHOIS servers -----------------------------------------

// One label of ASCII letters and digits, a dot, and a suffix of ASCII letters.
bool IsValidDomain(std::string_view domain);
// The WHOIS server for the domain's suffix; never empty. "host" or "host:port".
std::string GetWhoisServer(std::string_view domain);
// The server the suffix table gives a suffix (".org", any case), with .com and
// .net at the default server as GetWhoisServer asks them; "" for any other
// suffix. Not changed by TAVIREL_WHOIS_SERVER.
std::string_view TableWhoisServer(std::string_view suffix);
// Index of the first entry of list[0..lastIndex] equal to text, or -1.
int IndexOfString(std::string_view text, const std::vector<std::string>& list, int lastIndex);

// --- WHOIS exchange -----------------------------------------------------------

// The server's whole reply (UTF-8 replies converted to GBK), or "" on failure.
std::string GetWhoisReply(std::string_view domain, std::string_view server);
// The same exchange with what ended it, so a caller can tell a complete reply
// from a cut or failed one and say why.
TExchangeResult GetWhoisAnswer(std::string_view domain, std::string_view server);
// The line a server is asked for domain: lower case, CR LF ended.
std::string WhoisQueryLine(std::string_view domain);
// A reply as the program keeps it: a UTF-8 reply converted to GBK, any other
// left as it came.
void ConvertReplyToGbk(std::string& reply);
// Well-formed UTF-8 holding at least one byte of 128 or more.
bool IsUtf8Text(std::string_view text);

// --- Reading a reply ----------------------------------------------------------

bool IsDomainAvailable(std::string_view reply);
std::string ExtractWhoisField(std::string_view reply, std::string_view startMarker,
                              std::string_view endMarker);
std::string ReplaceAllText(std::string_view text, std::string_view oldText,
                           std::string_view newText);
std::string TextBefore(std::string_view marker, std::string_view text);
std::string TextAfter(std::string_view marker, std::string_view text);
std::string FirstRegexMatch(std::string_view text, std::string_view pattern);

// --- Text tools -------------------------------------------------------------

// The text without the bytes of 32 or less (blanks, line ends, control bytes)
// at either end; nothing else is removed.
std::string_view TrimText(std::string_view text);
// ASCII letters only; bytes of 128 and above never change, so GBK stays intact.
std::string LowerAscii(std::string_view text);
std::string UpperAscii(std::string_view text);
// The parts of text between separators: "a.b." gives "a", "b", ""; "" gives "".
std::vector<std::string_view> SplitText(std::string_view text, char separator);

// --- Address lookup -----------------------------------------------------------

// First IPv4 address of name (or of "www." + name) in dotted form, or "".
std::string GetHostIP(std::string_view name);

// --- Pattern expressions ------------------------------------------------------

// One expansion of a pattern with the placeholders {数字} {字母} {随机} {拼音}
// {拼音x2} {拼音x3} (GBK bytes).
std::string ExpandDomainPattern(std::string_view pattern);
// One character drawn uniformly from the distinct characters of set.
std::string RandomCharOf(std::string_view set);
// n capitalised syllables; "" for n <= 0.
std::string RandomPinyin(int n);
// Every occurrence of find replaced by a character drawn for it alone.
std::string ReplaceEachWithRandomChar(std::string_view text, std::string_view find,
                                      std::string_view set);
// The 405 syllables, in their fixed order.
const std::vector<std::string>& PinyinSyllables();
