#include "settings/ui/CSetDialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHostAddress>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <algorithm>

#include "config/StreamUrl.h"
#include "onvif/Discovery.h"
#include "platform/DecimalValue.h"
#include "settings/HistoryEntry.h"
#include "settings/ui/SetDialogHook.h"
#include "settings/ui/SetDialogIds.h"
#include "skin/BitmapIds.h"
#include "skin/CSkinButton.h"
#include "skin/CSkinStatic.h"
#include "skin/MessageBox.h"
#include "skin/SkinBitmap.h"

namespace kavrel {
namespace {

// The program's screen when the dialog has no owner window: the main
// window's rule (a 480 x 640 portrait window, or the whole available area of
// a portrait desktop).
constexpr int kDefaultScreenWidth = 480;
constexpr int kDefaultScreenHeight = 640;

constexpr int kLowestPort = 1;
constexpr int kHighestPort = 65535;

QString ToQString(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

std::u16string TextOf(const QComboBox* box) {
    return box->currentText().toStdU16String();
}

// A port text is accepted when it is not empty and its decimal value is 1 to
// 65535; the text itself is kept as typed (" 80" and "80x" stay so).
bool IsAcceptedPort(const std::u16string& port) {
    if (port.empty())
        return false;
    const int value = DecimalValue(port);
    return value >= kLowestPort && value <= kHighestPort;
}

QRect ProgramScreen(const QWidget* owner) {
    if (owner)
        return owner->window()->geometry();
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    if (available.height() > available.width())
        return available;
    QRect placed(0, 0, kDefaultScreenWidth, kDefaultScreenHeight);
    if (available.isValid()) {
        placed.moveCenter(available.center());
        placed.moveTo(std::max(placed.left(), available.left()),
                      std::max(placed.top(), available.top()));
    }
    return placed;
}

// Selects `index` in a drop-down list, or nothing when it is not one of its
// items (as the handheld's list did for an out-of-range selection).
void SelectItem(QComboBox* box, int index) {
    box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

}  // namespace

CSetDialog::CSetDialog(const SettingsLabels& labels, QWidget* parent)
    : CSkinDialog(parent), m_labels(labels) {
    setWindowTitle(ToQString(m_labels.title()));
}

CSetDialog::~CSetDialog() = default;

int CSetDialog::OpenListRows(int rowHeight, int itemHeight) {
    if (itemHeight <= 0)
        return 1;
    return std::max(1, (4 * rowHeight) / itemHeight);
}

void CSetDialog::Initialise() {
    if (m_initialised)
        return;
    m_initialised = true;
    DetectLanguage();
    PlaceOnScreen();
    m_layout = ComputeSetDialogLayout(width(), height());
    CreateTitleBar();
    CreateControls();
    FillControls();
}

int CSetDialog::exec() {
    Initialise();
    if (SetDialogHook hook = InstalledSetDialogHook()) {
        // Runs inside the modal run's event loop, once the dialog shows.
        QTimer::singleShot(0, this, [this, hook = std::move(hook)] {
            hook(*this);
            if (isVisible())
                OnCloseButton();
        });
    }
    return CSkinDialog::exec();
}

void CSetDialog::PlaceOnScreen() {
    // Up to the handheld's size the dialog covers the program's screen (the
    // owner window's client area at its position); over a larger window it
    // is a dialog of the handheld's shape in its middle.
    const QRect placed = PlaceSetDialog(ProgramScreen(parentWidget()));
    setGeometry(placed);
    setFixedSize(placed.size());
    // The fields and buttons read at the size the labels are drawn at.
    setFont(SkinFont(placed.size()));
}

void CSetDialog::CreateTitleBar() {
    m_title = new CSkinStatic(bitmap::kTitleBackground, this);
    m_title->setObjectName(QString::number(setdlg::kTitle));
    m_title->setAlignment(Qt::AlignLeft);
    m_title->setGeometry(m_layout.title.ToQRect());
    m_title->setText(ToQString(m_labels.title()));
    m_title->show();

    // No text: the bitmap fills the whole button.
    m_close = new CSkinButton(bitmap::kTitleExit, kTextBottomCentre, this);
    m_close->setObjectName(QString::number(setdlg::kClose));
    m_close->setAutoDefault(false);
    m_close->setGeometry(m_layout.close.ToQRect());
    connect(m_close, &QPushButton::clicked, this, [this] { OnCloseButton(); });
    m_close->show();
}

QComboBox* CSetDialog::AddList(int id, int row, bool editable) {
    auto* box = new QComboBox(this);
    box->setObjectName(QString::number(id));
    box->setEditable(editable);
    if (editable) {
        // The recent values are offered, never forced: no inline completion
        // (typing 10.0.0.1 must not become a stored 10.0.0.12) and no item
        // added on Enter (the lists belong to the store).
        box->setCompleter(nullptr);
        box->setInsertPolicy(QComboBox::NoInsert);
    }
    // The handheld's combo boxes were sized to their opened height, 5 rows
    // including the field. A QComboBox is as high as its field and opens its
    // list outside its rectangle, so it gets one row and a list of about
    // four rows; the list style is forced, since a menu-like popup would
    // ignore the row count.
    box->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    box->setGeometry(m_layout.inputs[size_t(row)].ToQRect());
    const int itemHeight = QFontMetrics(box->view()->font()).height();
    box->setMaxVisibleItems(OpenListRows(m_layout.rowHeight, itemHeight));
    box->show();
    return box;
}

QPushButton* CSetDialog::AddPushButton(int id, const LayoutRect& rect, const std::u16string& text) {
    auto* button = new QPushButton(ToQString(text), this);
    button->setObjectName(QString::number(id));
    // Enter means OK wherever the focus is (keyPressEvent), so no button
    // becomes the default by taking the focus.
    button->setAutoDefault(false);
    button->setGeometry(rect.ToQRect());
    button->show();
    return button;
}

void CSetDialog::CreateControls() {
    const std::u16string* labelTexts[setdlg::kRowCount] = {
        &m_labels.history(), &m_labels.server(),   &m_labels.port(),
        &m_labels.user(),    &m_labels.password(), &m_labels.channel(),
    };
    for (int row = 0; row < setdlg::kRowCount; ++row) {
        auto* label = new CSkinStatic(bitmap::kSettingsLabel, this);
        label->setObjectName(QString::number(setdlg::kRowLabels[row]));
        label->setAlignment(Qt::AlignRight);
        label->setGeometry(m_layout.labels[size_t(row)].ToQRect());
        label->setText(ToQString(*labelTexts[row]));
        label->show();

        switch (setdlg::kRowInputs[row]) {
            case setdlg::kHistory:
                m_historyBox = AddList(setdlg::kHistory, row, false);
                // A user's choice only (also of the item already shown); the
                // dialog's own changes of the selection fill nothing.
                connect(m_historyBox, &QComboBox::activated, this,
                        [this] { OnHistorySelChange(); });
                break;
            case setdlg::kAddress:
                m_addressBox = AddList(setdlg::kAddress, row, true);
                connect(m_addressBox, &QComboBox::editTextChanged, this,
                        [this] { UpdateUrlControls(); });
                break;
            case setdlg::kPort:
                m_portBox = AddList(setdlg::kPort, row, true);
                break;
            case setdlg::kUser:
                m_userBox = AddList(setdlg::kUser, row, true);
                break;
            case setdlg::kPassword:
                m_passwordBox = new QLineEdit(this);
                m_passwordBox->setObjectName(QString::number(setdlg::kPassword));
                m_passwordBox->setEchoMode(QLineEdit::Password);
                m_passwordBox->setGeometry(m_layout.inputs[size_t(row)].ToQRect());
                m_passwordBox->show();
                break;
            case setdlg::kChannel:
                m_channelBox = AddList(setdlg::kChannel, row, false);
                break;
        }
    }

    m_okButton = AddPushButton(setdlg::kOk, m_layout.ok, m_labels.ok());
    m_addButton = AddPushButton(setdlg::kAdd, m_layout.add, m_labels.add());
    m_deleteButton = AddPushButton(setdlg::kDelete, m_layout.remove, m_labels.remove());
    connect(m_okButton, &QPushButton::clicked, this, [this] { OnConfirm(); });
    connect(m_addButton, &QPushButton::clicked, this, [this] { OnAddRecord(); });
    connect(m_deleteButton, &QPushButton::clicked, this, [this] { OnDeleteRecord(); });
    m_findButton = AddPushButton(setdlg::kFindCameras, m_layout.find,
                                 LoadText(u"set_find_cameras").toStdU16String());
    connect(m_findButton, &QPushButton::clicked, this, [this] { OnFindCameras(); });
}

onvif::Discovery& CSetDialog::DiscoveryProbe() {
    if (!m_discovery) {
        m_discovery = new onvif::Discovery(this);
        connect(m_discovery, &onvif::Discovery::Found, this,
                [this](const onvif::DiscoveredCamera& camera) { m_found.push_back(camera); });
        connect(m_discovery, &onvif::Discovery::Finished, this, [this] { ShowFoundCameras(); });
    }
    return *m_discovery;
}

void CSetDialog::SetDiscoveryTarget(const QHostAddress& address, quint16 port) {
    DiscoveryProbe().SetTarget(address, port);
}

void CSetDialog::OnFindCameras() {
    if (!m_findButton->isEnabled())
        return;  // a probe is under way
    m_found.clear();
    m_findButton->setEnabled(false);
    m_findButton->setText(LoadText(u"set_finding"));
    DiscoveryProbe().Probe();
}

void CSetDialog::ShowFoundCameras() {
    m_findButton->setEnabled(true);
    if (m_found.empty()) {
        m_findButton->setText(LoadText(u"set_found_none"));
        return;
    }
    m_findButton->setText(LoadText(u"set_find_cameras"));
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setObjectName(QStringLiteral("found_cameras"));
    menu->addAction(
            LoadText(u"set_found").replace(QStringLiteral("%d"), QString::number(m_found.size())))
        ->setEnabled(false);
    for (size_t index = 0; index < m_found.size(); ++index) {
        const onvif::DiscoveredCamera& camera = m_found[index];
        QStringList parts;
        for (const QString& part : {camera.name, camera.model, camera.host}) {
            if (!part.isEmpty())
                parts << part;
        }
        connect(menu->addAction(parts.join(QStringLiteral("  \u00b7  "))), &QAction::triggered,
                this, [this, index] { PickFoundCamera(int(index)); });
    }
    menu->popup(m_findButton->mapToGlobal(QPoint(0, m_findButton->height())));
}

void CSetDialog::PickFoundCamera(int index) {
    if (index < 0 || size_t(index) >= m_found.size())
        return;
    const QUrl& service = m_found[size_t(index)].deviceService;
    // The short form where the camera keeps the usual path; its own address
    // otherwise.
    QString address = service.toString();
    if (service.scheme() == QLatin1String("http") &&
        service.path() == QString::fromStdU16String(std::u16string(kOnvifDevicePath))) {
        address = QStringLiteral("onvif://") + service.authority();
    }
    m_addressBox->setEditText(address);
    UpdateUrlControls();
}

void CSetDialog::FillControls() {
    for (int channel = 1; channel <= setdlg::kChannelItems; ++channel)
        m_channelBox->addItem(QString::number(channel));
    SelectItem(m_channelBox, m_current.channel);

    // The recent lists, read in this order. A QComboBox selects the first
    // item it is given (and an editable one shows its text), so the record's
    // texts are set after the lists are filled.
    const std::pair<QComboBox*, std::u16string_view> recentLists[] = {
        {m_addressBox, kRecentAddressesName},
        {m_portBox, kRecentPortsName},
        {m_userBox, kRecentUserNamesName},
    };
    for (const auto& [box, name] : recentLists) {
        std::u16string list;
        ReadRegistryString(name, list);
        for (const std::u16string& value : SplitRecentValues(list))
            box->addItem(ToQString(value));
        box->setCurrentIndex(-1);
    }
    m_addressBox->setEditText(ToQString(m_current.address));
    m_portBox->setEditText(ToQString(m_current.port));
    m_userBox->setEditText(ToQString(m_current.userName));
    m_passwordBox->setText(ToQString(m_current.password));

    m_history.clear();
    for (const std::u16string& display : LoadHistory(m_history))
        m_historyBox->addItem(ToQString(display));
    m_historyBox->setCurrentIndex(-1);
    UpdateUrlControls();
}

void CSetDialog::UpdateUrlControls() {
    // An RTSP URL carries its own port, and such a camera has no channels.
    const bool url = IsStreamUrl(TextOf(m_addressBox));
    if (m_portBox)
        m_portBox->setEnabled(!url);
    if (m_channelBox)
        m_channelBox->setEnabled(!url);
}

bool CSetDialog::TakeServer(ServerSettings& server, bool confirming) {
    const std::u16string address = TextOf(m_addressBox);
    if (address.empty()) {
        ShowSettingsMessage(u"set_invalid_address");
        return false;
    }
    server =
        ServerSettings{address, {}, TextOf(m_userBox), m_passwordBox->text().toStdU16String(), 0};
    if (IsStreamUrl(address)) {
        if (!ParseStreamUrl(address)) {
            ShowSettingsMessage(u"set_invalid_url");
            return false;
        }
        // The recent list is shown as it is, so it never holds a password.
        if (confirming)
            AddRecentValue(kRecentAddressesName, RedactedUrl(address));
        return true;
    }
    // The address is stored before the port is checked, so a refused port
    // still leaves the address in its recent list.
    if (confirming)
        AddRecentValue(kRecentAddressesName, address);
    server.port = TextOf(m_portBox);
    if (!IsAcceptedPort(server.port)) {
        ShowSettingsMessage(u"set_invalid_port");
        return false;
    }
    // Item "1" is channel 0; no chosen item gives -1.
    server.channel = DecimalValue(TextOf(m_channelBox)) - 1;
    return true;
}

void CSetDialog::OnHistorySelChange() {
    const int index = m_historyBox->currentIndex();
    if (index < 0 || size_t(index) >= m_history.size())
        return;
    const auto fields = ParseHistoryEntry(m_history[size_t(index)]);
    // An absent field leaves its control as it is.
    if (fields[0])
        m_addressBox->setEditText(ToQString(*fields[0]));
    if (fields[1])
        m_portBox->setEditText(ToQString(*fields[1]));
    if (fields[2])
        m_userBox->setEditText(ToQString(*fields[2]));
    if (fields[3])
        m_passwordBox->setText(ToQString(*fields[3]));
    if (fields[4]) {
        // "1" to "32" choose an item; any other value, the empty text
        // included, leaves no channel chosen.
        SelectItem(m_channelBox, DecimalValue(*fields[4]) - 1);
    }
}

void CSetDialog::OnAddRecord() {
    ServerSettings server;
    if (!TakeServer(server, false))
        return;
    const std::u16string& address = server.address;
    const std::u16string& port = server.port;
    // A URL's entry has no channel: none is chosen when it is picked.
    const std::u16string channelText = IsStreamUrl(address) ? u"" : TextOf(m_channelBox);

    // The same address and port is the same server, whatever the user,
    // password and channel.
    std::vector<std::u16string> shown;
    shown.reserve(size_t(m_historyBox->count()));
    for (int item = 0; item < m_historyBox->count(); ++item)
        shown.push_back(m_historyBox->itemText(item).toStdU16String());
    if (HistoryHoldsServer(shown, address, port)) {
        ShowSettingsMessage(u"set_record_exist");
        return;
    }

    m_history.push_back(
        FormatHistoryEntry(address, port, server.userName, server.password, channelText));
    // The new item is not chosen: a QComboBox would choose the first item
    // added to an empty list, so the choice is put back.
    const int chosen = m_historyBox->currentIndex();
    m_historyBox->addItem(ToQString(ServerDisplayText(address, port)));
    m_historyBox->setCurrentIndex(chosen);
    ShowSettingsMessage(u"set_record_succeed");
}

void CSetDialog::OnDeleteRecord() {
    const int index = m_historyBox->currentIndex();
    if (index < 0) {
        ShowSettingsMessage(u"set_delete_no_select");
        return;
    }
    m_historyBox->removeItem(index);
    if (size_t(index) < m_history.size())
        m_history.erase(m_history.begin() + index);
    // A QComboBox would choose a neighbour of the removed item: show nothing.
    m_historyBox->setCurrentIndex(-1);
    m_historyBox->update();
    m_addressBox->setEditText(QString());
    m_portBox->setEditText(QString());
    m_userBox->setEditText(QString());
    m_passwordBox->clear();
    m_channelBox->setCurrentIndex(0);
}

void CSetDialog::OnConfirm() {
    ServerSettings server;
    if (!TakeServer(server, true))
        return;
    if (!server.port.empty())
        AddRecentValue(kRecentPortsName, server.port);
    AddRecentValue(kRecentUserNamesName, server.userName);
    m_current = std::move(server);

    HideShellBars();
    SaveHistory(m_history);
    CSkinDialog::accept();
}

void CSetDialog::OnCloseButton() {
    // Additions and deletions of this run are kept; the record is not.
    SaveHistory(m_history);
    HideShellBars();
    CSkinDialog::reject();
}

void CSetDialog::reject() {
    OnCloseButton();
}

void CSetDialog::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && modifiers == Qt::NoModifier) {
        event->accept();
        OnConfirm();
        return;
    }
    CSkinDialog::keyPressEvent(event);
}

void CSetDialog::ShowSettingsMessage(std::u16string_view key) {
    ShowMessageBox(this, LoadText(u"leave_alert"), LoadText(key), QMessageBox::Ok,
                   QMessageBox::NoIcon);
}

void CSetDialog::HideShellBars() {
    // The handheld hid the dialog's menu bar and the input panel's button
    // here. A desktop window has neither, so there is nothing to hide.
}

}  // namespace kavrel
