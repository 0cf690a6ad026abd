#pragma once

// The help text of the candidate page: the pattern placeholders and examples.

#include <QString>

QString PatternHelpText();
