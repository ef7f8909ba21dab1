// The event list of the main window and its pop-up menu.

#include "alarms/EventLog.h"
#include "core/Globali.h"
#include "core/gui/UPri.h"
#include "platform/MessageBox.h"
#include "platform/Shell.h"

#include "controls/gui/FittingText.h"

#include <QIcon>
#include <QStyleOptionViewItem>
#include <QTreeWidget>

#include <algorithm>

namespace {

const QIcon& LogIconImage(int index) {
    static const std::vector<QIcon> icons = [] {
        std::vector<QIcon> v;
        for (int i = 0; i <= alarms::IconConnessione; ++i) {
            const std::string name = ProgramDir + "Immagini/Icona" + (i < 10 ? "0" : "") + std::to_string(i) + ".png";
            v.emplace_back(QString::fromStdString(name));
        }
        return v;
    }();
    static const QIcon none;
    return index >= 0 && index < static_cast<int>(icons.size()) ? icons[index] : none;
}

}  // namespace

void TPri::AttachEventLog() {
    alarms::EventLog& log = alarms::TheEventLog();
    log.onRowAppended = [this](const alarms::LogRow& row) {
        AddLogRow(row.icon, QString::fromStdString(row.dateTime), QString::fromStdString(row.type),
                  QString::fromStdString(row.description));
    };
    log.onRowsCleared = [this] { lv_Log->clear(); };
    // Entries from other threads come back through the event loop; with the
    // window as context nothing runs once it is gone, and its destructor
    // detaches the log before that, so nothing is posted to it either.
    log.SetOwner([this](std::function<void()> task) {
        QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
    });
    for (const alarms::LogRow& row : log.Rows())
        AddLogRow(row.icon, QString::fromStdString(row.dateTime), QString::fromStdString(row.type),
                  QString::fromStdString(row.description));
}

void TPri::FitDateColumn() {
    QStyleOptionViewItem opt;
    opt.initFrom(lv_Log);
    opt.widget = lv_Log;
    opt.font = lv_Log->font();
    opt.fontMetrics = QFontMetrics(opt.font);
    opt.features = QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration;
    opt.decorationSize = lv_Log->iconSize();
    opt.decorationPosition = QStyleOptionViewItem::Left;
    opt.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    opt.icon = LogIconImage(alarms::IconPericoloAlto);
    opt.text = WidestDateTime(opt.fontMetrics);
    const QSize needed = lv_Log->style()->sizeFromContents(QStyle::CT_ItemViewItem, &opt, QSize(), lv_Log);
    lv_Log->setColumnWidth(0, std::max(120, needed.width()));
}

void TPri::AddLogRow(int icon, const QString& dateTime, const QString& type, const QString& description) {
    auto* item = new QTreeWidgetItem(lv_Log, {dateTime, type, description});
    item->setIcon(0, LogIconImage(icon));
    // "Descrizione" only has what the window leaves it: the hint keeps the rest.
    item->setToolTip(2, description);
}

void TPri::ApriconNotepad1Click() { platform::ShellOpen("Notepad.exe", alarms::TheEventLog().FilePath()); }

void TPri::Azzeraregistro1Click() { alarms::TheEventLog().ClearRows(); }

void TPri::Azzeratuttoilregistro1Click() {
    if (platform::MessageBox("Azzerare completamente il registro degli eventi ?", "Attenzione",
                             platform::MB_YESNO | platform::MB_ICONQUESTION) == platform::IDYES)
        alarms::TheEventLog().ClearAll();
}
