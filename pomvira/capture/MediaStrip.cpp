// SPDX-License-Identifier: GPL-3.0-or-later
#include "MediaStrip.h"

#include <QColor>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>
#include <QPainter>
#include <QThreadPool>
#include <algorithm>
#include <mutex>

namespace {

constexpr QRgb kPlaceholderGrey = qRgb(236, 236, 236);

// What a picture shows in its box while its thumbnail is made: light grey.
QImage WaitingPicture(const QSize& size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(kPlaceholderGrey);
    return image;
}

// What a picture that cannot be loaded shows in its box: a red cross on
// light grey.
QImage UnreadablePicture(const QSize& size) {
    QImage image = WaitingPicture(size);
    QPainter p(&image);
    p.setPen(QPen(QColor(200, 30, 30), 2));
    const QRect r = image.rect().adjusted(8, 6, -9, -7);
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomLeft());
    return image;
}

}  // namespace

bool IsRecordingFile(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot >= 0 && name.mid(dot).trimmed().toUpper() == QLatin1String(".AVI");
}

struct TMediaStrip::TReplies {
    std::mutex lock;
    QObject* receiver = nullptr;  // null once the strip is gone
};

TMediaStrip::TMediaStrip(TThumbnailLoader loader)
    : FReplies(std::make_shared<TReplies>()),
      FContext(std::make_unique<QObject>()),
      FLoader(std::move(loader)) {
    FReplies->receiver = FContext.get();
}

TMediaStrip::~TMediaStrip() {
    // A worker still decoding finds no one to hand its thumbnail to; one
    // already handed over goes with the receiver.
    const std::lock_guard<std::mutex> guard(FReplies->lock);
    FReplies->receiver = nullptr;
}

void TMediaStrip::Add(const QString& path) {
    FFiles.push_back(TStripEntry{path, std::nullopt, FNextId++, false, QString()});
    const int count = Count();
    FFirstVisible = count > kVisible ? count - kVisible : 0;
    FSelected = count - 1;
}

bool TMediaStrip::ScrollBack() {
    if (FFirstVisible <= 0)
        return false;
    --FFirstVisible;
    return true;
}

bool TMediaStrip::ScrollForward() {
    if (FFirstVisible >= Count() - kVisible)
        return false;
    ++FFirstVisible;
    return true;
}

int TMediaStrip::EntryAt(int box) const {
    const int index = FFirstVisible + box;
    return box >= 0 && box < kVisible && Valid(index) ? index : -1;
}

bool TMediaStrip::SelectAt(int box) {
    const int index = EntryAt(box);
    if (index < 0)
        return false;
    FSelected = index;
    return true;
}

bool TMediaStrip::DeleteSelected() {
    const int32_t s = FSelected;
    const int32_t n = Count();
    if (s < 0 || s >= n)
        return false;
    const bool wasLast = s == n - 1;
    // The entry and its thumbnail go; the file on disk stays.
    FFiles.erase(FFiles.begin() + s);
    FSelected = std::min(s, n - 2);
    if (wasLast)
        FFirstVisible = std::max(FFirstVisible - 1, 0);
    return true;
}

void TMediaStrip::Clear() {
    FFiles.clear();
    FFirstVisible = 0;
    FSelected = -1;
}

QString TMediaStrip::FileAt(int index) const {
    return Valid(index) ? FFiles[size_t(index)].FileName : QString();
}

QStringList TMediaStrip::Files() const {
    QStringList files;
    for (const TStripEntry& entry : FFiles)
        files.append(entry.FileName);
    return files;
}

QString TMediaStrip::SelectedFile() const {
    return FileAt(FSelected);
}

bool TMediaStrip::IsRecordingAt(int index) const {
    return Valid(index) && IsRecordingFile(FFiles[size_t(index)].FileName);
}

const QImage* TMediaStrip::CachedThumbnail(int index) const {
    if (!Valid(index))
        return nullptr;
    const auto& thumbnail = FFiles[size_t(index)].Thumbnail;
    return thumbnail ? &*thumbnail : nullptr;
}

const QImage* TMediaStrip::Thumbnail(int index, const QSize& size, std::function<void()> ready) {
    if (!Valid(index) || IsRecordingAt(index))
        return nullptr;
    TStripEntry& entry = FFiles[size_t(index)];
    if (entry.Thumbnail)
        return &*entry.Thumbnail;
    if (!entry.Loading) {
        entry.Loading = true;
        // Off the user-interface thread: the file is read and decoded by a
        // worker, and the thumbnail handed back to this thread.
        QThreadPool::globalInstance()->start([replies = FReplies, loader = FLoader,
                                              path = entry.FileName, size, id = entry.Id,
                                              ready = std::move(ready), strip = this] {
            QImage thumbnail = loader ? loader(path, size) : QImage();
            const std::lock_guard<std::mutex> guard(replies->lock);
            if (!replies->receiver)
                return;
            QMetaObject::invokeMethod(
                replies->receiver,
                [strip, id, size, ready, thumbnail = std::move(thumbnail)]() mutable {
                    strip->ThumbnailMade(id, size, std::move(thumbnail));
                    if (ready)
                        ready();
                },
                Qt::QueuedConnection);
        });
    }
    if (FWaiting.size() != size)
        FWaiting = WaitingPicture(size);
    return &FWaiting;
}

void TMediaStrip::ThumbnailMade(uint64_t id, const QSize& size, QImage thumbnail) {
    for (TStripEntry& entry : FFiles) {
        if (entry.Id != id)
            continue;
        entry.Loading = false;
        entry.Thumbnail = thumbnail.isNull() ? UnreadablePicture(size) : std::move(thumbnail);
        return;
    }
    // Removed from the strip meanwhile: the thumbnail goes.
}
