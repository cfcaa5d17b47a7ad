#pragma once

#include <gtest/gtest.h>
#include <string>

namespace tavrin::test {

/// The message of the `Error` that `work` throws; a test failure, and "", when it throws none.
template <typename Error, typename Work> std::string thrownMessage(Work&& work) {
    try {
        work();
    } catch (const Error& error) {
        return error.what();
    }
    ADD_FAILURE() << "nothing was thrown";
    return "";
}

} // namespace tavrin::test
