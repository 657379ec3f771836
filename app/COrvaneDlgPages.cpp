// The pages of channel buttons: eight pages of four on the same four places,
// the first page showing at start.

#include "app/COrvaneDlg.h"
#include "app/CameraWall.h"
#include "platform/DebugSink.h"
#include "skin/CSkinButton.h"

namespace kavrel {

void COrvaneDlg::OnSwitch() {
    DebugOutput("Switch\n");
    if (m_wallOn) {
        // The wall turns by its own number of tiles.
        TurnWallPage(+1);
        return;
    }
    // A server may report more channels than there are buttons; paging stays
    // within the buttons, so it always comes round to the first page again.
    const int limit = qMin(m_channelCount, control::kChannelButtons);

    int page = -1;
    for (int first = 0; first < control::kChannelButtons; first += control::kChannelsPerPage) {
        const CSkinButton* button = m_channelButtons[size_t(first)];
        if (button && button->isVisibleTo(this)) {
            page = first;
            break;
        }
    }
    if (page < 0)
        return;
    m_page = page;

    for (int index = page; index < page + control::kChannelsPerPage; ++index) {
        if (index < limit && m_channelButtons[size_t(index)])
            m_channelButtons[size_t(index)]->hide();
    }
    int next = page + control::kChannelsPerPage;
    if (next >= limit)
        next = 0;
    for (int index = next; index < next + control::kChannelsPerPage; ++index) {
        if (index < limit && m_channelButtons[size_t(index)])
            m_channelButtons[size_t(index)]->show();
    }
    m_page = next;
}

void COrvaneDlg::ShowChannelPage(int first) {
    const int limit = qMin(m_channelCount, control::kChannelButtons);
    for (int index = 0; index < control::kChannelButtons; ++index) {
        if (CSkinButton* button = m_channelButtons[size_t(index)]) {
            button->setVisible(index >= first && index < first + control::kChannelsPerPage &&
                               index < limit);
        }
    }
    m_page = first;
}

void COrvaneDlg::ShowFirstChannelPage() {
    // All four buttons: the next server's count is not known yet.
    for (int index = 0; index < control::kChannelButtons; ++index) {
        if (CSkinButton* button = m_channelButtons[size_t(index)])
            button->setVisible(index < control::kChannelsPerPage);
    }
    m_page = 0;
}

void COrvaneDlg::OnPreviousPage() {
    ReleaseHeldPtz();
    if (m_wallOn) {
        TurnWallPage(-1);
        return;
    }
    const int limit = qMin(m_channelCount, control::kChannelButtons);
    if (limit <= control::kChannelsPerPage)
        return;  // one page: nothing to turn to
    const int last = (limit - 1) / control::kChannelsPerPage * control::kChannelsPerPage;
    ShowChannelPage(m_page == 0 ? last : m_page - control::kChannelsPerPage);
}

}  // namespace kavrel
