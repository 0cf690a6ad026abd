#pragma once

// The inputs of the candidate page and the settings page that cannot be
// used, each with the message (GBK) the window shows instead of doing
// nothing: a pattern that makes no domain names, a thread count below 1, a
// file with no text in it; and what an import or a generation did.

#include <QString>

#include <cstddef>
#include <string>
#include <vector>

class TRegistryData;

// "" when the pattern can make domain names; else why not: empty, unbalanced
// braces, or its names (a few expansions tried) refused by CheckDomainName.
std::string PatternProblem(const std::string& pattern, const TRegistryData& data);

// The generation made fewer names than asked: "" when made reached wanted.
std::string ShortGenerationMessage(long long wanted, std::size_t made);

// "" for a thread count of at least 1, and for a text that is no integer (the
// batch's own message names that one).
std::string ThreadCountProblem(const std::string& threadText);

// Whether the start of a file (head, its first bytes) holds text lines: not
// empty, not only blanks, no NUL byte (which no text file holds).
bool HeadHoldsTextLines(const std::string& head);
// Whether the file at path may hold text lines: the start of a plain file
// tells; anything else (a device, a file that cannot be read) is the
// import's to judge and report.
bool FileMayHoldTextLines(const QString& path);
// The message for a file with no text lines (path as the user sees it, GBK).
std::string NoTextLinesMessage(const std::string& path);

// "导入 N 个域名，跳过 M 行", then the first skipped lines with their reasons.
std::string ImportSummary(std::size_t added, std::size_t skipped,
                          const std::vector<std::string>& lines,
                          const std::vector<std::string>& reasons);
