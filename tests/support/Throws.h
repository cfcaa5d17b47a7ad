#pragma once

#include <gtest/gtest.h>
#include <string>

namespace tavrin::test {

/// The message of the `Error` that `work` throws, after `check(error)`; a test failure, and "",
/// when it throws none.
template <typename Error, typename Work, typename Check>
std::string thrownMessage(Work&& work, Check&& check) {
    try {
        work();
    } catch (const Error& error) {
        check(error);
        return error.what();
    }
    ADD_FAILURE() << "nothing was thrown";
    return "";
}

} // namespace tavrin::test
