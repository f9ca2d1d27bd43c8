#include "app/tform4.h"

#include "app/messages.h"
#include "app/portchoice.h"
#include "app/portlist.h"
#include "link/comport.h"
#include "link/systemserialdevice.h"
#include "ui_TForm4.h"

#include <QAbstractItemView>
#include <QFileInfo>
#include <QLineEdit>
#include <QRegularExpression>

namespace {

constexpr int DescriptionRole = Qt::UserRole + 1;

// Where a name without a description of its own leads on this machine.
QString whereItLeads(const QString& name)
{
    const QString location = portSystemLocation(name, QDir::current());
    if (location.isEmpty())
        return {};
    const QString target = QFileInfo(location).canonicalFilePath();
    const QString shown = target.isEmpty() || target == location ? location : location + QStringLiteral(" → ") + target;
    return QStringLiteral("Устройство: ") + shown;
}

// An entry kept because it is the choice, though the system does not list it now.
QString rememberedDescription(const QString& name)
{
    if (QFileInfo::exists(portSystemLocation(name, QDir::current())))
        return whereItLeads(name);
    return QStringLiteral("Сейчас не подключено: ") + name;
}

bool isComName(const QString& name)
{
    static const QRegularExpression com(QStringLiteral("^COM[1-8]$"), QRegularExpression::CaseInsensitiveOption);
    return com.match(name).hasMatch();
}

} // namespace

TForm4::TForm4(ComPort& port, QWidget* parent) : QDialog(parent), ui(new Ui::TForm4), m_port(port)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(340, 278);
    // Enter in the box is "OK", and never adds the typed text to the list.
    ui->ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ui->Button1->setDefault(true);
    ui->ComboBox1->setCurrentIndex(-1);
    ui->ComboBox1->setEditText(QStringLiteral("COM1"));
    connect(ui->Button1, &QPushButton::clicked, this, [this] { Platform::guarded(this, [this] { Button1Click(); }); });
    connect(ui->Button2, &QPushButton::clicked, this, [this] { Platform::guarded(this, [this] { Button2Click(); }); });
    connect(ui->ComboBox1, &QComboBox::currentTextChanged, this, [this] { showDescription(); });
    showDescription();
}

TForm4::~TForm4()
{
    delete ui;
}

void TForm4::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    refreshPortList();
}

int TForm4::portPosition() const
{
    // A name typed over a picked entry is no longer that entry.
    const int index = ui->ComboBox1->currentIndex();
    if (index >= 0 && ui->ComboBox1->itemText(index) != ui->ComboBox1->currentText())
        return -1;
    return index;
}

QString TForm4::portName() const
{
    const int position = portPosition();
    return position >= PortChoice::FirstDevicePosition ? ui->ComboBox1->itemText(position) : QString();
}

int TForm4::addEntry(const QString& name, const QString& description)
{
    ui->ComboBox1->addItem(name);
    const int index = ui->ComboBox1->count() - 1;
    ui->ComboBox1->setItemData(index, description, DescriptionRole);
    ui->ComboBox1->setItemData(index, description, Qt::ToolTipRole);
    return index;
}

int TForm4::findEntry(const QString& name) const
{
    const int exact = ui->ComboBox1->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (exact >= 0 || !isComName(name))
        return exact;
    return ui->ComboBox1->findText(name, Qt::MatchFixedString); // "com3" is "COM3"
}

void TForm4::refreshPortList()
{
    const int position = portPosition();
    const QString chosen = ui->ComboBox1->currentText();
    QSignalBlocker quiet(ui->ComboBox1);
    while (ui->ComboBox1->count() > PortChoice::FirstDevicePosition)
        ui->ComboBox1->removeItem(ui->ComboBox1->count() - 1);
    const QList<PortList::Entry> devices = PortList::devices();
    int longest = 0;
    for (const PortList::Entry& device : devices) {
        if (findEntry(device.name) < 0)
            addEntry(device.name, device.description);
    }
    for (int i = 0; i < ui->ComboBox1->count(); ++i)
        longest = std::max(longest, ui->ComboBox1->fontMetrics().horizontalAdvance(ui->ComboBox1->itemText(i)));
    // Device names are long; the open list shows them whole.
    ui->ComboBox1->view()->setMinimumWidth(longest + 32);
    if (position >= PortChoice::FirstDevicePosition) {
        int index = findEntry(chosen);
        if (index < 0) // the chosen adapter is unplugged; it stays the choice
            index = addEntry(chosen, rememberedDescription(chosen));
        ui->ComboBox1->setCurrentIndex(index);
    } else if (position < 0) {
        ui->ComboBox1->setCurrentIndex(-1);
        ui->ComboBox1->setEditText(chosen);
    }
    quiet.unblock();
    showDescription();
}

void TForm4::selectPortPosition(int position, const QString& name)
{
    refreshPortList();
    if (position >= 0 && position < PortChoice::FirstDevicePosition) {
        ui->ComboBox1->setCurrentIndex(position);
        return;
    }
    if (position >= PortChoice::FirstDevicePosition && !name.isEmpty()) {
        int index = findEntry(name);
        if (index < PortChoice::FirstDevicePosition)
            index = addEntry(name, rememberedDescription(name));
        ui->ComboBox1->setCurrentIndex(index);
        return;
    }
    ui->ComboBox1->setCurrentIndex(-1);
    ui->ComboBox1->setEditText(QString());
}

void TForm4::selectTypedEntry()
{
    // A typed name that is an entry of the list is that entry.
    const QString typed = ui->ComboBox1->currentText();
    const int index = findEntry(typed);
    if (index >= 0 && index != portPosition())
        ui->ComboBox1->setCurrentIndex(index);
}

void TForm4::showDescription()
{
    const int index = portPosition();
    const QString description = index >= 0 ? ui->ComboBox1->itemData(index, DescriptionRole).toString() : QString();
    ui->Label1->setText(description.isEmpty() ? whereItLeads(ui->ComboBox1->currentText()) : description);
}

void TForm4::Button1Click()
{
    selectTypedEntry();
    const QString name = ui->ComboBox1->currentText();
    if (!m_port.ConnectPort(name)) {
        Q_EMIT portNotOpened(name);
        Platform::errorBox(this, QStringLiteral("Не могу открыть порт."));
        return;
    }
    if (portPosition() < 0 && !name.isEmpty()) {
        // A name typed and opened is remembered like a listed device.
        ui->ComboBox1->setCurrentIndex(addEntry(name, whereItLeads(name)));
    }
    Q_EMIT portOpened(name);
    hide();
}

void TForm4::Button2Click()
{
    hide();
}
