#include "AppTests.h"

#include <QApplication>
#include <QTest>
#include <cstdio>

namespace tavrin::test {

std::map<std::string, AppTestFactory>& appTests() {
    static std::map<std::string, AppTestFactory> tests;
    return tests;
}

} // namespace tavrin::test

/// Runs one test class (`tavrin_app_tests AppModelTest [Qt Test options…]`) or, with no name,
/// every class, on the offscreen platform so no display is needed.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto& tests = tavrin::test::appTests();
    const int named = argc > 1 && argv[1][0] != '-';
    if (named && !tests.contains(argv[1])) {
        std::fprintf(stderr, "No test class named %s.\n", argv[1]);
        return 2;
    }
    int failures = 0;
    for (const auto& [name, make] : tests)
        if (!named || name == argv[1]) // the name stands in for the program's in Qt Test's view
            failures += QTest::qExec(make().get(), argc - named, argv + named);
    return failures;
}
