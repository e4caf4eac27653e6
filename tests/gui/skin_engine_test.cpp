// The real engine, loaded as the client loads it, styling a window that stands in for the client's.
#include "resources/embedded.h"
#include "skin-engine/engine_api.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include <dlfcn.h>
#include <memory>
#include <vector>

namespace {

struct ModuleCloser {
    void operator()(void* module) const { ::dlclose(module); }
};

class SkinEngine : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_module.reset(::dlopen(KV_BUILT_ENGINE, RTLD_NOW | RTLD_LOCAL));
        ASSERT_TRUE(s_module) << ::dlerror();
        s_setAero = reinterpret_cast<kv::skin::SetAeroFunction>(::dlsym(s_module.get(), "SkinH_SetAero"));
        s_attach = reinterpret_cast<kv::skin::AttachResFunction>(::dlsym(s_module.get(), "SkinH_AttachRes"));
        ASSERT_TRUE(s_setAero && s_attach);
    }
    static void TearDownTestSuite() { s_module.reset(); }

    void SetUp() override {
        ASSERT_TRUE(s_attach);
        m_window.setFixedSize(393, 270);
        auto* caption = new QLabel(QStringLiteral("账号："), &m_window);
        caption->setGeometry(7, 8, 40, 32);
        m_account = new QLineEdit(QStringLiteral("user@example.org"), &m_window);
        m_account->setGeometry(40, 8, 152, 32);
        QFont fieldFont;
        fieldFont.setPixelSize(14);
        m_account->setFont(fieldFont);
        auto* login = new QPushButton(QStringLiteral("登录"), &m_window);
        login->setGeometry(208, 48, 72, 32);
        auto* link = new QPlainTextEdit(QStringLiteral("magnet:?xt=urn:btih:0123"), &m_window);
        link->setGeometry(7, 136, 264, 80);
        auto* add = new QPushButton(QStringLiteral("加入离线下载"), &m_window);
        add->setGeometry(281, 136, 96, 80);
        auto* status = new QLabel(QStringLiteral("登录成功"), &m_window);
        status->setGeometry(200, 88, 176, 24);
        m_window.show();
        m_plain = Grab();
    }

    void TearDown() override {
        s_setAero(0);
        s_attach(nullptr, 0, "", 0, 0, 0);
    }

    static int Attach(std::span<const std::uint8_t> block) {
        return s_attach(block.data(), static_cast<int>(block.size()), "", 0, 0, 0);
    }

    QImage Grab(QWidget& widget) {
        QApplication::processEvents();
        return widget.grab().toImage();
    }
    QImage Grab() { return Grab(m_window); }

    static inline std::unique_ptr<void, ModuleCloser> s_module;
    static inline kv::skin::SetAeroFunction s_setAero = nullptr;
    static inline kv::skin::AttachResFunction s_attach = nullptr;
    QWidget m_window;
    QLineEdit* m_account = nullptr;
    QImage m_plain;
};

TEST_F(SkinEngine, EverySkinGivesItsOwnLookAndNullBringsThePlainOneBack) {
    std::vector<QImage> looks;
    for (int n = 1; n <= kv::SkinBlockCount; ++n) {
        SCOPED_TRACE("skin " + std::to_string(n));
        ASSERT_EQ(Attach(kv::EmbeddedSkinBlock(n)), kv::skin::EngineOk);
        QImage look = Grab();
        EXPECT_NE(look, m_plain);
        for (std::size_t other = 0; other < looks.size(); ++other) {
            EXPECT_NE(look, looks[other]) << "same as skin " << other + 1;
        }
        // Entry fields stay white, whatever the skin; the text is left-aligned, so the right end is bare.
        QPoint inField = m_account->geometry().center() + QPoint(m_account->width() / 2 - 6, 0);
        EXPECT_EQ(look.pixelColor(inField), QColor(Qt::white));
        // A field's own 14-pixel font survives, in the skin's face.
        EXPECT_EQ(m_account->font().pixelSize(), 14);
        EXPECT_EQ(m_account->font().families(), QApplication::font().families());
        looks.push_back(look);
    }
    EXPECT_EQ(s_attach(nullptr, 0, "", 0, 0, 0), kv::skin::EngineOk);
    EXPECT_EQ(Grab(), m_plain);
}

TEST_F(SkinEngine, MalformedBlockChangesNothing) {
    ASSERT_EQ(Attach(kv::EmbeddedSkinBlock(5)), kv::skin::EngineOk);
    const QImage skinned = Grab();
    const QString sheet = qApp->styleSheet();
    std::span<const std::uint8_t> good = kv::EmbeddedSkinBlock(9);

    std::vector<std::uint8_t> otherMagic(good.begin(), good.end());
    otherMagic[1] = 'X';
    std::vector<std::uint8_t> changedBody(good.begin(), good.end());
    changedBody[40] ^= 0x20;
    std::vector<std::uint8_t> cut(good.begin(), good.begin() + 60);
    struct Case {
        const char* what;
        const unsigned char* block;
        int length;
    } cases[] = {
        {"other magic", otherMagic.data(), static_cast<int>(otherMagic.size())},
        {"changed body", changedBody.data(), static_cast<int>(changedBody.size())},
        {"cut short", cut.data(), static_cast<int>(cut.size())},
        {"length past the block's own", good.data(), 3},
        {"null with a length", nullptr, 100},
        {"negative length", good.data(), -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_NE(s_attach(c.block, c.length, "", 0, 0, 0), kv::skin::EngineOk);
        EXPECT_EQ(qApp->styleSheet(), sheet);
        EXPECT_EQ(Grab(), skinned);
    }
}

TEST_F(SkinEngine, AeroAddsGlassOnThePlainLookAndOnASkin) {
    EXPECT_EQ(s_setAero(1), kv::skin::EngineOk);
    EXPECT_NE(Grab(), m_plain);
    s_setAero(0);
    EXPECT_EQ(Grab(), m_plain);

    ASSERT_EQ(Attach(kv::EmbeddedSkinBlock(9)), kv::skin::EngineOk);
    const QImage flat = Grab();
    s_setAero(1);
    EXPECT_NE(Grab(), flat);
}

TEST_F(SkinEngine, MessageBoxesFollowTheSkin) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("信息："), QStringLiteral("注册成功"));
    box.show();
    const QImage plain = Grab(box);
    ASSERT_EQ(Attach(kv::EmbeddedSkinBlock(9)), kv::skin::EngineOk);
    EXPECT_NE(Grab(box), plain);
}

TEST_F(SkinEngine, KeepsNothingOfTheCallersBlock) {
    std::span<const std::uint8_t> block = kv::EmbeddedSkinBlock(12);
    auto copy = std::make_unique<std::vector<std::uint8_t>>(block.begin(), block.end());
    ASSERT_EQ(Attach(*copy), kv::skin::EngineOk);
    const QImage skinned = Grab();
    std::fill(copy->begin(), copy->end(), 'x');
    copy.reset();
    // Restyling rebuilds the look from what the engine kept.
    s_setAero(1);
    s_setAero(0);
    EXPECT_EQ(Grab(), skinned);
}

} // namespace
