#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace tavrin::test {

/// The app's Qt Test classes by name; each .cpp registers its one class under its file's name,
/// which is also the name CTest runs it by.
using AppTestFactory = std::function<std::unique_ptr<QObject>()>;
std::map<std::string, AppTestFactory>& appTests();

struct RegisterAppTest {
    RegisterAppTest(const std::string& name, AppTestFactory make) {
        appTests().emplace(name, std::move(make));
    }
};

} // namespace tavrin::test

#define TAVRIN_APP_TEST(Class)                                                                     \
    static const tavrin::test::RegisterAppTest registered##Class(                                  \
        #Class, [] { return std::make_unique<Class>(); })
