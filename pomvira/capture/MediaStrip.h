// SPDX-License-Identifier: GPL-3.0-or-later
// The media strip's model: the pictures and recordings made in this run,
// oldest first, four of them visible from the first visible one, one of them
// selected, each with its thumbnail made once at its first paint. It knows
// no widgets and no media: the panel draws it and says what was clicked.
//
// A thumbnail is read and decoded off the user-interface thread (a picture
// on a slow disk, or one that takes the decoder long, never holds the
// windows up); its box shows a plain placeholder meanwhile, and the caller
// is told when the thumbnail is there.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QObject;

// One entry of the strip: a file made during this run and its cached
// thumbnail (made after its first paint; recordings never get one).
struct TStripEntry {
    QString FileName;
    std::optional<QImage> Thumbnail;
    uint64_t Id = 0;       // the entry's own number, for a thumbnail coming back
    bool Loading = false;  // its thumbnail is being made
    // What the user is told about the entry (a recording the camera ended).
    QString Note;
};

class TMediaStrip {
  public:
    // How many entries the strip shows at once.
    static constexpr int kVisible = 4;

    // Reads a picture's thumbnail at a size; a null image when it cannot.
    // Called on a worker thread.
    using TThumbnailLoader = std::function<QImage(const QString& path, const QSize& size)>;
    explicit TMediaStrip(TThumbnailLoader loader);
    // Thumbnails still being made are dropped when they come back.
    ~TMediaStrip();
    TMediaStrip(const TMediaStrip&) = delete;
    TMediaStrip& operator=(const TMediaStrip&) = delete;

    // Appends the file, scrolls it into view and selects it.
    void Add(const QString& path);
    // Pages one entry back or forward; false when nothing moved.
    bool ScrollBack();
    bool ScrollForward();
    // The entry shown in box `box` (0..3), -1 when the box is empty.
    int EntryAt(int box) const;
    // Selects the entry shown in box `box`; false when the box is empty.
    bool SelectAt(int box);
    // Removes the selected entry (its file stays on disk); the next one,
    // or the one before when it was the last, is selected after it. False
    // when nothing is selected.
    bool DeleteSelected();
    // Removes every entry.
    void Clear();

    int Count() const { return int(FFiles.size()); }
    int32_t FirstVisible() const { return FFirstVisible; }
    int32_t Selected() const { return FSelected; }
    QString FileAt(int index) const;
    QStringList Files() const;
    QString SelectedFile() const;
    // The entry's note (empty: none).
    QString NoteAt(int index) const { return Valid(index) ? FFiles[size_t(index)].Note : QString(); }
    void SetNoteAt(int index, const QString& note) {
        if (Valid(index))
            FFiles[size_t(index)].Note = note;
    }
    // Whether the entry is a recording (an AVI file, by its extension).
    bool IsRecordingAt(int index) const;
    // The entry's thumbnail once made, null before.
    const QImage* CachedThumbnail(int index) const;
    // The entry's thumbnail at `size`, made once, after the first call, on
    // a worker thread, and kept: a picture that cannot be read gets a red
    // cross, so it is read once. Until it is made, a plain placeholder;
    // `ready` is called (on the thread that made the strip) once it is.
    // Null for a recording or an index out of range.
    const QImage* Thumbnail(int index, const QSize& size, std::function<void()> ready = {});

  private:
    bool Valid(int index) const { return index >= 0 && index < Count(); }
    void ThumbnailMade(uint64_t id, const QSize& size, QImage thumbnail);

    // Where the worker hands a thumbnail back; cleared when the strip goes.
    struct TReplies;
    std::shared_ptr<TReplies> FReplies;
    std::unique_ptr<QObject> FContext;
    TThumbnailLoader FLoader;
    std::vector<TStripEntry> FFiles;
    uint64_t FNextId = 1;
    QImage FWaiting;  // the placeholder of thumbnails being made
    int32_t FFirstVisible = 0;
    int32_t FSelected = -1;
};

// Whether a file is a recording: its extension, trimmed and in upper case,
// is ".AVI".
bool IsRecordingFile(const QString& path);
