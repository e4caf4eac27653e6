// One QApplication for the whole test binary, alive while the tests run.
#include "app/worker_threads.h"

#include <QApplication>
#include <gtest/gtest.h>
#include <memory>

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override { m_application = std::make_unique<QApplication>(m_argc, m_argv); }
    void TearDown() override {
        m_application.reset();
        kv::EndDrawingThreads();
    }

private:
    int m_argc = 1;
    char m_name[16] = "gui_test";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_application;
};

[[maybe_unused]] const ::testing::Environment* const g_qt =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace
