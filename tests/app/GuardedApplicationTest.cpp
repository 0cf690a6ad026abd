// An error thrown by an event handler reaches the application's guard through
// Qt's own delivery, is shown with its text, and later events still arrive.

#include "app/GuardedApplication.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Handles every event with the action it is given.
class TEventTarget : public QObject {
public:
    std::function<bool()> OnEvent;
    bool event(QEvent*) override { return OnEvent(); }
};

struct TCase {
    const char* Name;
    std::function<bool()> Handler;
    bool Handled;                   // what the delivery returns
    std::vector<std::string> Shown; // the messages shown
};

void PrintTo(const TCase& testCase, std::ostream* out) {
    *out << testCase.Name;
}

class GuardedDeliveryTest : public ::testing::TestWithParam<TCase> {};

TEST_P(GuardedDeliveryTest, ShowsWhatEscapesAndCarriesOn) {
    TEventTarget target;
    target.OnEvent = GetParam().Handler;
    std::vector<std::string> shown;
    const auto show = [&](const std::string& text) { shown.push_back(text); };
    QEvent event(QEvent::User);

    const bool handled =
        DeliverGuarded([&] { return QCoreApplication::sendEvent(&target, &event); }, show);
    EXPECT_EQ(handled, GetParam().Handled);
    EXPECT_EQ(shown, GetParam().Shown);

    // The program carries on: the next event is delivered as usual.
    target.OnEvent = [] { return true; };
    shown.clear();
    EXPECT_TRUE(DeliverGuarded([&] { return QCoreApplication::sendEvent(&target, &event); }, show));
    EXPECT_TRUE(shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Handlers, GuardedDeliveryTest,
    ::testing::Values(
        TCase{"Handled", [] { return true; }, true, {}},
        TCase{"NotHandled", [] { return false; }, false, {}},
        // The program's texts are GBK bytes and are shown as they stand: 错误
        TCase{"ErrorWithGbkText",
              []() -> bool { throw std::runtime_error("\xB4\xED\xCE\xF3"); },
              false,
              {"\xB4\xED\xCE\xF3"}},
        TCase{"OutOfMemory", []() -> bool { throw std::bad_alloc(); }, false, {"std::bad_alloc"}},
        TCase{"NotAnException", []() -> bool { throw 42; }, false, {"unexpected error"}}),
    [](const ::testing::TestParamInfo<TCase>& info) { return std::string(info.param.Name); });

} // namespace
