#pragma once

// The settings page's 查询方式 choices: 自动, WHOIS, RDAP, in the order of
// TProtocolPreference, each with a tooltip that says what it does.

class QComboBox;

void AddProtocolChoices(QComboBox* box);
