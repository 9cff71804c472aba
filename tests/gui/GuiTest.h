// The desktop program started in a fixture, its message boxes recorded and
// answered with OK, its form's widgets by id, typed into and clicked as a
// user would.
#pragma once

#include "app/MainFrm.h"
#include "app/Tarvo.h"
#include "form/TarvoDoc.h"
#include "form/TarvoView.h"
#include "framework/DataExchange.h"
#include "framework/Document.h"
#include "framework/MsgBox.h"
#include "resources/ResourceIds.h"

#include "WaveBuilder.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>

#include <functional>
#include <QTest>
#include <QTimer>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Failures show the text of a QString.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace tarvo::test {

// Closes every modal window that opens while it lives, and keeps its title.
class ModalGuard {
public:
    ModalGuard()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                titles.append(d->windowTitle());
                d->done(0);
            }
        });
        timer_.start(20);
    }
    QStringList titles;

private:
    QTimer timer_;
};

class AppTest : public ::testing::Test {
protected:
    void SetUp() override { CTarvoApp::Profile()->clear(); }
    void TearDown() override { app.reset(); }

    // Starts the program as `tarvo ARGS...` would.
    // prepare: what the test sets on the program before it starts (what a
    // command line opens at once already needs its hooks).
    void Start(const QStringList& args = {}, const std::function<void(CTarvoApp&)>& prepare = {})
    {
        app = std::make_unique<CTarvoApp>();
        if (prepare)
            prepare(*app);
        app->messageBoxHook = [this](const std::string& text, const std::string& caption, unsigned) {
            messages.push_back(text);
            captions.push_back(caption);
            return IDOK;
        };
        ASSERT_TRUE(app->InitInstance(args));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
        Frame()->activateWindow();
        active = QTest::qWaitForWindowActive(Frame());
    }

    CMainFrame* Frame() const { return app->MainFrame(); }
    QtFormHost& Form() const { return Frame()->Form(); }
    CTarvoView& View() const { return *app->View(); }
    QLineEdit* Edit(int id) const { return qobject_cast<QLineEdit*>(Form().Control(id)); }
    QLabel* Field(int id) const { return qobject_cast<QLabel*>(Form().Control(id)); }
    QRadioButton* Radio(int id) const { return qobject_cast<QRadioButton*>(Form().Control(id)); }
    std::string Title() const { return Frame()->windowTitle().toStdString(); }
    std::string Path() const { return app->Document()->GetPathName(); }

    // Replaces the text of an edit by typing.
    void Type(int id, const QString& text)
    {
        Edit(id)->setFocus();
        Edit(id)->selectAll();
        QTest::keyClick(Edit(id), Qt::Key_Backspace);
        QTest::keyClicks(Edit(id), text);
    }
    void Click(int id) { QTest::mouseClick(Form().Control(id), Qt::LeftButton); }

    // A 3 kHz tone, 8-bit mono at 22050 Hz; 44100 samples make 172 chunks of 256.
    std::string ToneFile(const std::string& name, std::size_t samples = 22050)
    {
        return dir.Write(name, Wave8(22050, Sine(samples, 3000.0, 22050)));
    }
    QStringList ToneArgs(std::size_t samples = 22050)
    {
        return {QString::fromStdString(ToneFile("tone.wav", samples))};
    }

    TempDir dir;
    std::vector<std::string> messages, captions;  // every message box, in order
    std::unique_ptr<CTarvoApp> app;
    bool active = false;
};

// The visible texts of a scene (a chart's titles and labels).
inline QStringList VisibleTexts(QGraphicsScene& scene)
{
    QStringList texts;
    for (QGraphicsItem* item : scene.items())
        if (auto* text = dynamic_cast<QGraphicsTextItem*>(item); text && text->isVisible())
            texts << text->toPlainText();
    return texts;
}

}  // namespace tarvo::test
