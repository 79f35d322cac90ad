#pragma once
// The window's default error handling: an error raised in a handler ends that handler,
// its text is shown to the user, and the program goes on. Every entry point from the
// event loop into our code goes through runGuarded, so no exception crosses Qt.
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

namespace rd780 {

// An error whose text is shown as it stands (the equivalent of a raised exception with
// a message in the original toolkit).
class AppError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using ErrorReporter = std::function<void(const std::string&)>;

template <class F> bool runGuarded(const ErrorReporter& report, F&& f) {
    try {
        f();
        return true;
    } catch (const std::exception& e) {
        if (report) report(e.what());
    } catch (...) {
        if (report) report("Unknown error");
    }
    return false;
}

} // namespace rd780
