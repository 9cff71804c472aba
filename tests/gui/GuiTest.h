// Shared pieces of the desktop program's tests: the program started in a
// fixture with its message boxes recorded and answered, the form's widgets
// by id, typing and clicking as a user would, and a guard that closes any
// modal window a test did not expect.
#pragma once

#include "app/MainFrm.h"
#include "app/QtFormHost.h"
#include "app/Tarvo.h"
#include "app/TarvoDoc.h"
#include "form/TarvoView.h"
#include "framework/MsgBox.h"
#include "resources/ResourceIds.h"

#include "WaveBuilder.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

namespace tarvo::test {

struct ShownMessage {
    std::string text;
    std::string caption;
    unsigned type;
};

// Closes every modal window that opens while it lives, and keeps its title.
class ModalGuard {
public:
    ModalGuard()
    {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                titles.append(d->windowTitle());
                d->done(0);
            }
        });
        timer_.start();
    }
    QStringList titles;

private:
    QTimer timer_;
};

class AppTest : public ::testing::Test {
protected:
    void SetUp() override { ClearProfile(); }
    void TearDown() override { app.reset(); }

    static void ClearProfile()
    {
        auto profile = CTarvoApp::Profile();
        profile->clear();
        profile->sync();
    }

    // Starts the program as `tarvo ARGS...` would, its message boxes
    // recorded and answered with OK.
    void Start(const QStringList& args = {})
    {
        app = std::make_unique<CTarvoApp>();
        app->messageBoxHook = [this](const std::string& text, const std::string& caption, unsigned type) {
            messages.push_back({text, caption, type});
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
    CTarvoDoc& Doc() const { return *app->Document(); }

    QLineEdit* Edit(int id) const { return qobject_cast<QLineEdit*>(Form().Control(id)); }
    QLabel* Field(int id) const { return qobject_cast<QLabel*>(Form().Control(id)); }
    QPushButton* Button(int id) const { return qobject_cast<QPushButton*>(Form().Control(id)); }
    QRadioButton* Radio(int id) const { return qobject_cast<QRadioButton*>(Form().Control(id)); }
    std::string Text(int id) const { return Form().GetDlgItemText(id); }
    std::string Title() const { return Frame()->windowTitle().toStdString(); }

    // Replaces the text of an edit by typing, as a user does.
    void Type(int id, const QString& text)
    {
        QLineEdit* e = Edit(id);
        ASSERT_NE(e, nullptr);
        e->setFocus();
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Backspace);
        QTest::keyClicks(e, text);
    }
    void Click(int id)
    {
        QPushButton* b = Button(id);
        ASSERT_NE(b, nullptr);
        QTest::mouseClick(b, Qt::LeftButton);
    }

    // A 3 kHz tone: 8-bit mono at 22050 Hz.
    std::string ToneFile(const std::string& name, std::size_t samples = 22050)
    {
        return dir.Write(name, Wave8(22050, Sine(samples, 3000.0, 22050)));
    }

    TempDir dir;
    std::vector<ShownMessage> messages;  // every message box, in order
    std::unique_ptr<CTarvoApp> app;
    bool active = false;
};

}  // namespace tarvo::test
