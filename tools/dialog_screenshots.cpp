// Pictures of the main window and of every page of every settings dialog,
// for looking at the layout without clicking through the program; last, the
// main window with long texts and a list of events.
// Usage: oculara_screenshots FOLDER (offscreen works: QT_QPA_PLATFORM=offscreen)

#include "alarms/EventLog.h"
#include "core/Globali.h"
#include "core/gui/UPri.h"
#include "dialogs/gui/UCfgAllarmi.h"
#include "dialogs/gui/UDlgSelezionaDir.h"
#include "dialogs/gui/UImpoConne.h"
#include "dialogs/gui/UImpoGenerali.h"
#include "dialogs/gui/UImpoMonitoraggio.h"
#include "notify/Ras.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTabWidget>
#include <cstdio>
#include <memory>

namespace {

void Settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Save(QWidget* w, const QString& file) {
    const bool ok = w->grab().save(file);
    std::printf("%s %s\n", ok ? "salvata" : "IMPOSSIBILE salvare", file.toLocal8Bit().constData());
    return ok;
}

// One picture per page of the dialog's page control, or one of the dialog.
bool SaveDialog(QDialog* dialog, const QString& folder, const QString& name) {
    dialog->show();
    Settle(300);
    bool ok = true;
    auto* pages = dialog->findChild<QTabWidget*>();
    if (!pages) {
        ok = Save(dialog, folder + "/" + name + ".png");
    } else {
        for (int i = 0; i < pages->count(); ++i) {
            pages->setCurrentIndex(i);
            Settle(100);
            ok = Save(dialog, folder + QString("/%1-%2.png").arg(name).arg(i)) && ok;
        }
    }
    dialog->hide();
    return ok;
}

// The main window as it looks after a night of events, with settings whose
// texts are as long as users' real ones. Nothing of it reaches the log file
// or the saved settings.
bool SaveBusyWindow(TPri& window, const QString& file) {
    Settings.ScriviLog = false;
    Settings.Mail_Indirizzo = "mario.rossi.molto.lungo@esempio-di-dominio.it";
    Settings.SMS_NumeroCellulare = "+393331234567";
    Settings.File_Nome = "/home/mario/Documenti/Programmi di allarme/accendi-tutte-le-luci-del-giardino.sh";
    window.RefreshAlarmLabels();
    const struct {
        const char* when;
        const char* type;
        int icon;
        const char* text;
    } rows[] = {
        {"8/12/26 13:07:05", "Informazione", alarms::IconInformazione, "Monitoraggio avviato"},
        {"8/12/26 13:07:41", "Allarme", alarms::IconPericoloAlto, "Rilevati 3 movimenti sospetti"},
        {"8/12/26 13:07:42", "Allarme", alarms::IconSuono, "Attivato allarme sonoro"},
        {"28/12/26 23:59:59", "Notifica", alarms::IconMail, "E-mail inviata a mario.rossi.molto.lungo@esempio-di-dominio.it"},
        {"28/12/26 23:59:59", "Errore", alarms::IconErrore, "Impossibile inviare l'SMS"},
    };
    for (const auto& r : rows) alarms::WriteLogEntry(r.when, r.type, r.icon, r.text);
    Settle(300);
    return Save(&window, file);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "uso: %s CARTELLA\n", argv[0]);
        return 2;
    }
    SetupProgramDir();
    notify::InitializeRas();
    LoadSettings();
    QApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "impossibile creare la cartella %s\n", argv[1]);
        return 1;
    }

    bool ok = true;
    {
        TPri window;
        window.show();
        Settle(1500);
        ok = Save(&window, folder + "/TPri.png");
        ok = SaveDialog(std::make_unique<TImpoMonitoraggio>(&window).get(), folder, "TImpoMonitoraggio") && ok;
        ok = SaveDialog(std::make_unique<TCfgAllarmi>(&window).get(), folder, "TCfgAllarmi") && ok;
        ok = SaveDialog(std::make_unique<TImpoConne>(&window).get(), folder, "TImpoConne") && ok;
        ok = SaveDialog(std::make_unique<TImpoGenerali>(&window).get(), folder, "TImpoGenerali") && ok;
        auto picker = std::make_unique<TDlgSelezionaDir>(&window);
        picker->Cartella = QDir::homePath().toStdString();
        ok = SaveDialog(picker.get(), folder, "TDlgSelezionaDir") && ok;
        ok = SaveBusyWindow(window, folder + "/TPri-eventi.png") && ok;
        window.close();
    }
    notify::FinalizeRas();
    return ok ? 0 : 1;
}
