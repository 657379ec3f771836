// kavrel-paintbench --mode widget|put [--tiles N] [--size WxH] [--seconds S]
//                   [--xserver-pid P]
//
// What handing a finished picture to the user-interface thread and showing it
// costs, apart from decoding: N tiles (default 1) each get a WxH picture
// (default 415x340, the single view's at 480x640) 25 times a second from a
// thread of their own, handed over as the video window's are (the newest
// picture in a slot under a lock, one posted call while one is pending), and
// shown in a real window on $DISPLAY:
//   widget  swapped in and painted 1:1 through Qt's widget paint (an update of
//           the picture's rectangle, drawImage in paintEvent), as the viewer
//           does;
//   put     put straight from one of three shared-memory images into the
//           tile's own X window (MIT-SHM), no painter and no backing store: the
//           least copying the X server allows. An image is written again only
//           after the server said it finished reading it (its completion event,
//           read without waiting when the next picture comes); a picture that
//           finds no free image is skipped.
// Over S seconds (default 20, after 3 s of warming up) it prints the pictures
// shown and the CPU per picture of the user-interface thread, of Qt's X event
// thread and of the picture threads, and with --xserver-pid that of the X
// server. bench/frame_cost.sh runs both modes side by side (line p).

#include <pthread.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/frame/ProcessMeasures.h"

// Xlib's names (Bool, Status, None ...) clash with Qt's: included last.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

namespace {

using kavrel::bench::ProcessCpu;
using kavrel::bench::ThreadCpu;

constexpr auto kPictureInterval = std::chrono::milliseconds(40);

// A picture that changes every time, written as a converter writes one.
void FillPicture(uint32_t* pixels, int width, int height, ptrdiff_t stride, int number) {
    for (int y = 0; y < height; ++y) {
        uint32_t* row = pixels + ptrdiff_t(y) * stride;
        for (int x = 0; x < width; ++x)
            row[x] = 0xFF000000u | ((uint32_t(x + number) * 2654435761u) >> 8);
    }
}

class Tile : public QWidget {
  public:
    Tile(bool put, int width, int height, QWidget* parent)
        : QWidget(parent), m_put(put), m_width(width), m_height(height) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        if (m_put) {
            // Its own X window, which Qt never paints: every pixel is ours.
            setAttribute(Qt::WA_NativeWindow);
            setAttribute(Qt::WA_PaintOnScreen);
        }
    }
    ~Tile() override {
        Stop();
        if (m_display == nullptr)
            return;
        for (Shared& image : m_images) {
            if (image.image == nullptr)
                continue;
            if (image.attached)
                XShmDetach(m_display, &image.segment);
            XDestroyImage(image.image);  // the header only: a shared image leaves its segment
            if (image.segment.shmaddr != nullptr)
                shmdt(image.segment.shmaddr);
        }
        if (m_gc != nullptr)
            XFreeGC(m_display, m_gc);
        XCloseDisplay(m_display);
    }

    QPaintEngine* paintEngine() const override { return m_put ? nullptr : QWidget::paintEngine(); }

    bool Start() {
        if (m_put && !OpenShared())
            return false;
        if (!m_put) {
            for (QImage* image : {&m_back, &m_slot, &m_shown})
                *image = QImage(m_width, m_height, QImage::Format_RGB32);
        }
        m_thread = std::thread([this] { MakePictures(); });
        return true;
    }

    void Stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    int Shown() const { return m_shownCount; }
    int Skipped() const { return m_skipped.load(); }

  protected:
    void paintEvent(QPaintEvent*) override {
        if (m_put) {
            std::lock_guard lock(m_mutex);
            PutShown();  // an expose: the same picture again
            return;
        }
        QPainter painter(this);
        painter.drawImage(0, 0, m_shown);
    }

  private:
    struct Shared {
        XShmSegmentInfo segment{};
        XImage* image = nullptr;
        bool attached = false;
        bool busy = false;  // the server may still read it
    };

    bool OpenShared() {
        m_display = XOpenDisplay(nullptr);
        if (m_display == nullptr || !XShmQueryExtension(m_display))
            return false;
        m_completion = XShmGetEventBase(m_display) + ShmCompletion;
        const int screen = DefaultScreen(m_display);
        for (Shared& shared : m_images) {
            shared.image =
                XShmCreateImage(m_display, DefaultVisual(m_display, screen), 24, ZPixmap, nullptr,
                                &shared.segment, unsigned(m_width), unsigned(m_height));
            if (shared.image == nullptr || shared.image->bits_per_pixel != 32)
                return false;
            shared.segment.shmid =
                shmget(IPC_PRIVATE, size_t(shared.image->bytes_per_line) * size_t(m_height),
                       IPC_CREAT | 0600);
            if (shared.segment.shmid < 0)
                return false;
            void* memory = shmat(shared.segment.shmid, nullptr, 0);
            // Gone once both sides detach, however the bench ends.
            shmctl(shared.segment.shmid, IPC_RMID, nullptr);
            if (memory == reinterpret_cast<void*>(-1))
                return false;
            shared.segment.shmaddr = shared.image->data = static_cast<char*>(memory);
            shared.segment.readOnly = 0;
            shared.attached = XShmAttach(m_display, &shared.segment) != 0;
            XSync(m_display, 0);
            if (!shared.attached)
                return false;
        }
        m_gc = XCreateGC(m_display, Window(winId()), 0, nullptr);
        return true;
    }

    void MakePictures() {
        pthread_setname_np(pthread_self(), "kavrel-picture");
        auto next = std::chrono::steady_clock::now();
        for (int number = 0; !m_stop; ++number) {
            next += kPictureInterval;
            std::this_thread::sleep_until(next);
            if (m_put) {
                int free = -1;
                {
                    std::lock_guard lock(m_mutex);
                    for (int i = 0; i < int(m_images.size()); ++i) {
                        if (i != m_slotIndex && i != m_shownIndex && !m_images[size_t(i)].busy)
                            free = i;
                    }
                }
                if (free < 0) {
                    ++m_skipped;
                    continue;
                }
                XImage* image = m_images[size_t(free)].image;
                FillPicture(reinterpret_cast<uint32_t*>(image->data), m_width, m_height,
                            image->bytes_per_line / 4, number);
                std::lock_guard lock(m_mutex);
                m_slotIndex = free;
                m_fresh = true;
            } else {
                FillPicture(reinterpret_cast<uint32_t*>(m_back.bits()), m_width, m_height,
                            m_back.bytesPerLine() / 4, number);
                std::lock_guard lock(m_mutex);
                m_back.swap(m_slot);
                m_fresh = true;
            }
            if (!m_posted.exchange(true))
                QMetaObject::invokeMethod(
                    this, [this] { TakePicture(); }, Qt::QueuedConnection);
        }
    }

    void TakePicture() {
        m_posted = false;
        std::lock_guard lock(m_mutex);
        if (!m_fresh)
            return;
        m_fresh = false;
        ++m_shownCount;
        if (!m_put) {
            m_shown.swap(m_slot);
            update();
            return;
        }
        // Completions that came since the last picture, read without waiting.
        while (XPending(m_display) > 0) {
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type != m_completion)
                continue;
            const auto& done = reinterpret_cast<const XShmCompletionEvent&>(event);
            for (Shared& shared : m_images) {
                if (shared.segment.shmseg == done.shmseg)
                    shared.busy = false;
            }
        }
        std::swap(m_slotIndex, m_shownIndex);
        PutShown();
    }

    // Called with m_mutex held.
    void PutShown() {
        if (m_shownIndex < 0 || m_display == nullptr)
            return;
        Shared& shown = m_images[size_t(m_shownIndex)];
        shown.busy = true;
        XShmPutImage(m_display, Window(winId()), m_gc, shown.image, 0, 0, 0, 0, unsigned(m_width),
                     unsigned(m_height), 1);
        XFlush(m_display);
    }

    const bool m_put;
    const int m_width;
    const int m_height;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_posted{false};
    std::atomic<int> m_skipped{0};
    int m_shownCount = 0;  // user-interface thread only

    std::mutex m_mutex;  // guards everything below
    bool m_fresh = false;
    QImage m_back, m_slot, m_shown;  // widget mode
    Display* m_display = nullptr;    // put mode: a connection of its own
    GC m_gc{};
    int m_completion = 0;
    std::array<Shared, 3> m_images{};
    int m_slotIndex = -1;
    int m_shownIndex = -1;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    bool put = false;
    int tiles = 1;
    int width = 415;
    int height = 340;
    int seconds = 20;
    long serverPid = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const char* value = argv[i + 1];
        if (option == "--mode")
            put = std::strcmp(value, "put") == 0;
        else if (option == "--tiles")
            tiles = std::max(1, std::atoi(value));
        else if (option == "--size")
            std::sscanf(value, "%dx%d", &width, &height);
        else if (option == "--seconds")
            seconds = std::max(1, std::atoi(value));
        else if (option == "--xserver-pid")
            serverPid = std::atol(value);
    }
    if (width <= 0 || height <= 0) {
        std::fprintf(stderr, "kavrel-paintbench: --size wants WxH, both above 0\n");
        return 2;
    }
    QWidget window;
    const int columns = int(std::ceil(std::sqrt(double(tiles))));
    const int rows = (tiles + columns - 1) / columns;
    window.resize(tiles == 1 ? QSize(480, 640) : QSize(1920, 1080));
    const int cellWidth = window.width() / columns;
    const int cellHeight = window.height() / rows;
    std::vector<std::unique_ptr<Tile>> all;
    for (int i = 0; i < tiles; ++i) {
        auto tile = std::make_unique<Tile>(put, width, height, &window);
        tile->setGeometry((i % columns) * cellWidth + (cellWidth - width) / 2,
                          (i / columns) * cellHeight + (cellHeight - height) / 2, width, height);
        all.push_back(std::move(tile));
    }
    window.show();
    for (auto& tile : all) {
        if (!tile->Start()) {
            std::fprintf(stderr, "kavrel-paintbench: no shared-memory images on this display\n");
            return 1;
        }
    }
    const auto shownNow = [&] {
        int shown = 0;
        for (const auto& tile : all)
            shown += tile->Shown();
        return shown;
    };
    QEventLoop warm;
    QTimer::singleShot(3000, &warm, &QEventLoop::quit);
    warm.exec();
    const auto threadsBefore = ThreadCpu();
    const double serverBefore = ProcessCpu(serverPid);
    const int shownBefore = shownNow();
    QElapsedTimer clock;
    clock.start();
    QEventLoop measure;
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &measure, &QEventLoop::quit);
    measure.exec();
    const double elapsed = double(clock.elapsed()) / 1000.0;
    const auto threads = ThreadCpu();
    const double server = ProcessCpu(serverPid) - serverBefore;
    // The user-interface thread bears the program's own name (as the kernel
    // cuts it short).
    QFile comm(QStringLiteral("/proc/self/comm"));
    const std::string uiThread =
        comm.open(QIODevice::ReadOnly) ? comm.readAll().trimmed().toStdString() : std::string();
    const int pictures = shownNow() - shownBefore;
    int skipped = 0;
    for (const auto& tile : all)
        skipped += tile->Skipped();
    for (auto& tile : all)
        tile->Stop();
    std::printf("paint %s: %d tile(s) of %dx%d, %d pictures in %.1f s, %d skipped\n",
                put ? "put" : "widget", tiles, width, height, pictures, elapsed, skipped);
    if (pictures <= 0)
        return 1;
    const auto perPicture = [&](const std::string& name) {
        const auto after = threads.find(name);
        const auto before = threadsBefore.find(name);
        if (after == threads.end())
            return 0.0;
        return (after->second - (before == threadsBefore.end() ? 0.0 : before->second)) * 1000.0 /
               double(pictures);
    };
    std::printf("ui_ms_per_picture %.3f\n", perPicture(uiThread));
    std::printf("x_event_thread_ms_per_picture %.3f\n", perPicture("QXcbEventQueue"));
    std::printf("picture_threads_ms_per_picture %.3f\n", perPicture("kavrel-picture"));
    if (serverBefore >= 0 && server >= 0)
        std::printf("xserver_ms_per_picture %.3f\n", server * 1000.0 / double(pictures));
    return 0;
}
