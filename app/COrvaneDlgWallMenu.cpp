// The camera wall's entries in the video window's right-click menu: the
// Layout submenu, and on a tile "Show here" (every server of the history, each
// with its channels, and "empty") and "Fill with this server's channels".
// User-interface thread only.

#include <QMenu>
#include <set>
#include <string>
#include <vector>

#include "app/COrvaneDlg.h"
#include "config/StreamUrl.h"
#include "settings/HistoryEntry.h"
#include "settings/HistoryStore.h"

namespace kavrel {
namespace {

// The servers "Show here" offers: the main window's first, then the
// history's, each address and port once.
std::vector<ServerSettings> OfferedServers(const ServerSettings& main) {
    std::vector<ServerSettings> servers;
    std::set<std::u16string> seen;
    const auto offer = [&](const ServerSettings& server) {
        if (!server.address.empty() && seen.insert(ServerKey(server)).second)
            servers.push_back(server);
    };
    offer(main);
    // A small local file, read once per menu, as the settings dialog does.
    ServerHistory history;
    LoadHistory(history);
    for (const std::u16string& entry : history) {
        const auto fields = ParseHistoryEntry(entry);
        if (!fields[0] || !fields[1])
            continue;
        ServerSettings server;
        server.address = *fields[0];
        server.port = *fields[1];
        server.userName = fields[2].value_or(u"");
        server.password = fields[3].value_or(u"");
        offer(server);
    }
    return servers;
}

}  // namespace

void COrvaneDlg::AddWallMenuEntries(QMenu* menu, int index) {
    QMenu* layouts = menu->addMenu(LoadText(u"cmd_layout") + QStringLiteral("\tL"));
    const WallLayout shown = m_wallOn ? m_wall->Layout() : WallLayout::Single;
    for (int value = 0; value <= int(WallLayout::OnePlusFive); ++value) {
        const auto layout = WallLayout(value);
        const QString name = layout == WallLayout::Single
                                 ? LoadText(u"layout_single")
                                 : QString::fromStdU16String(std::u16string(LayoutName(layout)));
        QAction* action = layouts->addAction(name);
        action->setCheckable(true);
        action->setChecked(layout == shown);
        connect(action, &QAction::triggered, this, [this, layout] { SetWallLayout(layout); });
    }
    if (!m_wallOn || index < 0 || index >= m_wall->Tiles())
        return;

    QMenu* here = menu->addMenu(LoadText(u"show_here"));
    const QString channelText = LoadText(u"cmd_channel");
    const TileSource& current = m_wall->Source(index);
    for (const ServerSettings& server : OfferedServers(m_session->Server())) {
        const QString title =
            QString::fromStdU16String(ServerDisplayText(server.address, server.port));
        const bool main = IsMainServer(server);
        if (IsStreamUrl(server.address)) {
            // One stream, no channels to choose from.
            QAction* action = here->addAction(title);
            const TileSource source = main ? MainSource(0) : TileSource{server, {}, 0};
            action->setCheckable(true);
            action->setChecked(SameCamera(source, current));
            connect(action, &QAction::triggered, this,
                    [this, index, source] { ShowInTile(index, source); });
            continue;
        }
        QMenu* channels = here->addMenu(title);
        const int count = qMin(main ? m_channelCount : m_wall->KnownChannelCount(server),
                               control::kChannelButtons);
        for (int channel = 0; channel < count; ++channel) {
            QAction* action = channels->addAction(FillNumber(channelText, channel + 1));
            TileSource source = main ? MainSource(channel) : TileSource{server, {}, channel};
            action->setCheckable(true);
            action->setChecked(SameCamera(source, current));
            connect(action, &QAction::triggered, this,
                    [this, index, source] { ShowInTile(index, source); });
        }
    }
    QAction* empty = here->addAction(LoadText(u"empty_tile"));
    empty->setCheckable(true);
    empty->setChecked(current.Empty());
    connect(empty, &QAction::triggered, this, [this, index] { ShowInTile(index, {}); });
    connect(menu->addAction(LoadText(u"fill_with_server")), &QAction::triggered, this,
            [this] { FillWallWithServer(); });
}

}  // namespace kavrel
