// SPDX-License-Identifier: GPL-3.0-or-later
// The format page of a capture pin: the formats its stream configuration
// offers, one line each (colour format, size, frame rate), the one in force
// selected. OK sets the chosen format when it differs from the one in force.
// A pin without stream configuration lists the media types it offers and
// cannot change them.
#pragma once

#include <QString>
#include <vector>

#include "PropertyFrame.h"

class QLabel;
class QListWidget;

namespace media::gst {

class PinFormatPage : public PropertyPage {
    Q_OBJECT
  public:
    PinFormatPage(IPin* pin, QWidget* parent);
    ~PinFormatPage() override;

    HRESULT Apply() override;

    // The line shown for a media type record.
    static QString DescribeFormat(const AM_MEDIA_TYPE& mt);

  private:
    ComPtr<IPin> pin_;
    ComPtr<IAMStreamConfig> config_;
    std::vector<AM_MEDIA_TYPE*> formats_;  // owned, CoTaskMemAlloc'ed records
    int initial_ = -1;
    QListWidget* list_;
    QLabel* status_;
};

}  // namespace media::gst
