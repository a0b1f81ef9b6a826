#include "gui/gui_main.h"

#include <QComboBox>
#include <QDir>
#include <QFont>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "core/global.h"
#include "core/ini_location.h"
#include "gui/com_select_form.h"
#include "gui/error_handler.h"
#include "gui/main_window.h"
#include "gui/port_details.h"
#include "gui/window_services.h"

namespace linograf {

namespace {

std::optional<std::string> TakeOption(std::vector<std::string>& arguments, const std::string& name) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] != name) continue;
        if (i + 1 >= arguments.size()) throw std::invalid_argument(name + " needs a value");
        std::string value = arguments[i + 1];
        arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(i),
                        arguments.begin() + static_cast<std::ptrdiff_t>(i) + 2);
        return value;
    }
    return std::nullopt;
}

// The fonts the window was designed with are Windows fonts; these stand in for them.
void SubstituteFonts() {
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                               {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    QApplication::setFont(font);
}

// Nobody is there to click a message box away: every error goes to standard error and into the
// exit status instead.
int TakeScreenshots(TfrmMain& window, const QString& folder, const std::optional<std::string>& sample) {
    int errors = 0;
    SetErrorDisplay([&errors](const QString& text) {
        ++errors;
        std::fprintf(stderr, "linograf: %s\n", text.toUtf8().constData());
    });
    QDir().mkpath(folder);
    if (sample) {
        std::ifstream in(*sample, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "linograf: cannot read the sample \"%s\"\n", sample->c_str());
            ++errors;
        }
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Guarded([&] {
            for (char c : bytes) window.LineCapture().TakeByte(c);
        });
        // What the log has to tell about the sample's rows is told before the pictures are taken.
        Guarded([&] { window.LiveLog().Flush(); });
        window.UpdateStatusCounts();
    }
    bool saved = true;
    for (int page = 0; page < 3; ++page) {
        window.ShowPage(page);
        QApplication::processEvents();
        saved &= window.grab().save(QStringLiteral("%1/page-%2.png").arg(folder).arg(page));
    }
    {
        TComSelectForm form([&](int n) { return window.eport->findData(n) >= 0; }, DevicePathOfPort, &window,
                            PortDetailsOfPort);
        form.show();
        QApplication::processEvents();
        saved &= form.grab().save(folder + QStringLiteral("/select-port.png"));
    }
    {
        // The confirmation the parameters page asks, shown without waiting for an answer: Qt's
        // standard buttons in the window's language.
        QMessageBox question(QMessageBox::Question, QStringLiteral("Linograf"),
                             QStringLiteral("Текущие данные журнала будут удалены?"),
                             QMessageBox::Yes | QMessageBox::No, &window);
        question.show();
        QApplication::processEvents();
        saved &= question.grab().save(folder + QStringLiteral("/question.png"));
    }
    if (!saved)
        std::fprintf(stderr, "linograf: cannot save the screenshots in \"%s\"\n",
                     folder.toUtf8().constData());
    SetErrorDisplay({});
    return saved && errors == 0 ? 0 : 1;
}

}  // namespace

int RunMainWindow(int argc, char** argv) {
    TLinografApplication application(argc, argv);
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::optional<std::string> ini_path, screenshots, sample;
    try {
        ini_path = TakeIniOption(arguments);
        screenshots = TakeOption(arguments, "--screenshots");
        sample = TakeOption(arguments, "--sample");
        if (!arguments.empty()) throw std::invalid_argument("unknown argument: " + arguments.front());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "linograf: %s\n", error.what());
        return 2;
    }
    TGlobal global(ResolveIniPath(ini_path));
    ConfigureApplication(application);
    SubstituteFonts();
    TfrmMain window(global.IniFile(), DefaultWindowServices());
    window.show();
    if (screenshots) return TakeScreenshots(window, QString::fromStdString(*screenshots), sample);
    return application.exec();
}

}  // namespace linograf
