// The skin engine: turns a skin block into the application's palette, fonts and style sheet.
// It styles the application object rather than single windows, so every window the program opens,
// message boxes included, follows the skin.
#include "skin-engine/engine_api.h"
#include "skin-engine/skin_format.h"

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QLinearGradient>
#include <QPalette>
#include <QString>
#include <QStringList>
#include <QStyle>
#include <QWidget>

#include <optional>

#define KV_SKIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using kv::skin::Colour;
using kv::skin::Fill;
using kv::skin::SkinLook;

// The application's own look, taken before the engine first changes it.
struct PlainLook {
    QPalette palette;
    QFont font;
    QString styleSheet;
};

struct EngineState {
    std::optional<PlainLook> plain;
    std::optional<SkinLook> skin; // a copy: nothing points into the caller's block
    bool aero = false;
};

EngineState& State() {
    static EngineState state;
    return state;
}

QApplication* Application() {
    return qobject_cast<QApplication*>(QCoreApplication::instance());
}

QColor ToQColor(Colour c) {
    return QColor(c.r, c.g, c.b);
}

QString Css(Colour c) {
    return ToQColor(c).name(QColor::HexRgb);
}

QString CssFill(Fill f) {
    if (f.top == f.bottom) {
        return Css(f.top);
    }
    return QStringLiteral("qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %1, stop:1 %2)")
        .arg(Css(f.top), Css(f.bottom));
}

// Aero lays a pane of glass over the window's fill: a bright upper half with a soft edge.
QBrush WindowBrush(QColor top, QColor bottom, bool aero) {
    QLinearGradient gradient(0, 0, 0, 1);
    gradient.setCoordinateMode(QGradient::ObjectMode);
    if (aero) {
        gradient.setColorAt(0.0, top.lighter(135));
        gradient.setColorAt(0.46, top.lighter(112));
        gradient.setColorAt(0.54, top);
        gradient.setColorAt(1.0, bottom.darker(112));
    } else {
        gradient.setColorAt(0.0, top);
        gradient.setColorAt(1.0, bottom);
    }
    return QBrush(gradient);
}

QColor Contrasting(QColor c) {
    return c.lightness() > 140 ? QColor(Qt::black) : QColor(Qt::white);
}

QPalette SkinPalette(const QPalette& plain, const std::optional<SkinLook>& skin, bool aero) {
    QPalette palette = plain;
    if (!skin) {
        QColor window = plain.color(QPalette::Window);
        palette.setBrush(QPalette::Window, WindowBrush(window, window, aero));
        return palette;
    }
    palette.setBrush(QPalette::Window,
                     WindowBrush(ToQColor(skin->window.top), ToQColor(skin->window.bottom), aero));
    palette.setColor(QPalette::WindowText, ToQColor(skin->text));
    palette.setColor(QPalette::Button, ToQColor(skin->button.top));
    palette.setColor(QPalette::ButtonText, ToQColor(skin->buttonText));
    palette.setColor(QPalette::Highlight, ToQColor(skin->accent));
    palette.setColor(QPalette::HighlightedText, Contrasting(ToQColor(skin->accent)));
    // Entry fields stay black on white whatever the skin.
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    QColor muted = ToQColor(skin->text);
    muted.setAlpha(120);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, muted);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, muted);
    return palette;
}

QString SkinStyleSheet(const SkinLook& skin) {
    const QString fields = QStringLiteral("QLineEdit, QTextEdit, QPlainTextEdit");
    return QStringLiteral("QPushButton { color: %1; background: %2; border: %3px solid %4; "
                          "border-radius: %5px; padding: 1px 4px; font-weight: %6; }\n"
                          "QPushButton:hover { background: %7; }\n"
                          "QPushButton:pressed { background: %8; }\n"
                          "QPushButton:focus { border-color: %9; }\n")
               .arg(Css(skin.buttonText), CssFill(skin.button), QString::number(skin.borderWidth),
                    Css(skin.buttonBorder), QString::number(skin.buttonRadius),
                    skin.buttonBold ? QStringLiteral("bold") : QStringLiteral("normal"),
                    CssFill(skin.buttonHover), CssFill(skin.buttonPressed), Css(skin.accent)) +
           QStringLiteral("%1 { color: #000000; background: #ffffff; border: 1px solid %2; "
                          "border-radius: %3px; selection-background-color: %4; selection-color: %5; }\n"
                          "%6 { border-color: %4; }\n"
                          "QLabel { color: %7; background: transparent; }\n")
               .arg(fields, Css(skin.fieldBorder), QString::number(skin.fieldRadius), Css(skin.accent),
                    Contrasting(ToQColor(skin.accent)).name(QColor::HexRgb),
                    QStringLiteral("QLineEdit:focus, QTextEdit:focus, QPlainTextEdit:focus"), Css(skin.text));
}

// Style sheet first, then palette and font, then a fresh polish of every widget: a widget that a
// style sheet has polished keeps its old font across QApplication::setFont otherwise.
void SetLook(QApplication& app, const QString& sheet, const QPalette& palette, const QFont& font) {
    app.setStyleSheet(sheet);
    QApplication::setPalette(palette);
    QApplication::setFont(font);
    for (QWidget* widget : QApplication::allWidgets()) {
        widget->style()->unpolish(widget);
        widget->style()->polish(widget);
        widget->update();
    }
}

void Restyle(QApplication& app, EngineState& state) {
    if (!state.skin && !state.aero) {
        if (state.plain) {
            SetLook(app, state.plain->styleSheet, state.plain->palette, state.plain->font);
            state.plain.reset();
        }
        return;
    }
    if (!state.plain) {
        state.plain = PlainLook{QApplication::palette(), QApplication::font(), app.styleSheet()};
    }
    QFont font = state.plain->font;
    QString sheet = state.plain->styleSheet;
    if (state.skin) {
        QStringList families;
        for (const std::string& family : state.skin->fontFamilies) {
            families << QString::fromStdString(family);
        }
        font.setFamilies(families);
        font.setPointSize(state.skin->fontSize);
        sheet += QLatin1Char('\n') + SkinStyleSheet(*state.skin);
    }
    SetLook(app, sheet, SkinPalette(state.plain->palette, state.skin, state.aero), font);
}

} // namespace

KV_SKIN_EXPORT int KV_SKIN_CALL SkinH_SetAero(int enable) {
    QApplication* app = Application();
    if (!app) {
        return kv::skin::EngineNoApplication;
    }
    EngineState& state = State();
    state.aero = enable != 0;
    Restyle(*app, state);
    return kv::skin::EngineOk;
}

KV_SKIN_EXPORT int KV_SKIN_CALL SkinH_AttachRes(const unsigned char* block, int length, const char*, int, int,
                                                int) {
    if (length < 0 || (block == nullptr && length != 0)) {
        return kv::skin::EngineBadArguments;
    }
    std::optional<SkinLook> skin;
    if (block != nullptr && length > 0) {
        SkinLook look;
        if (kv::skin::ParseSkinBlock({block, static_cast<std::size_t>(length)}, look) !=
            kv::skin::SkinError::None) {
            return kv::skin::EngineMalformedBlock;
        }
        skin = std::move(look);
    }
    QApplication* app = Application();
    if (!app) {
        return kv::skin::EngineNoApplication;
    }
    EngineState& state = State();
    state.skin = std::move(skin);
    Restyle(*app, state);
    return kv::skin::EngineOk;
}
