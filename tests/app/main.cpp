#include "AppTests.h"

#include <QApplication>
#include <QTest>
#include <cstdio>
#include <vector>

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
    if (argc > 1 && argv[1][0] != '-') {
        const auto found = tests.find(argv[1]);
        if (found == tests.end()) {
            std::fprintf(stderr, "No test class named %s.\n", argv[1]);
            return 2;
        }
        std::vector<char*> args{argv[0]};
        args.insert(args.end(), argv + 2, argv + argc);
        const auto test = found->second();
        return QTest::qExec(test.get(), static_cast<int>(args.size()), args.data());
    }
    int failures = 0;
    for (const auto& [name, make] : tests) {
        const auto test = make();
        failures += QTest::qExec(test.get(), argc, argv);
    }
    return failures;
}
