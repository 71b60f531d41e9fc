// SPDX-License-Identifier: GPL-3.0-or-later
#include "SmallFilesystem.h"

#include <csignal>
#include <sys/mount.h>

TSmallFilesystem::TSmallFilesystem(long long bytes) {
    const QByteArray options = "size=" + QByteArray::number(bytes);
    mounted_ = ::mount("pomvira-test", dir_.path().toLocal8Bit().constData(), "tmpfs", 0,
                       options.constData()) == 0;
    if (mounted_)
        return;
    getrlimit(RLIMIT_FSIZE, &previousLimit_);
    rlimit limit = previousLimit_;
    limit.rlim_cur = rlim_t(bytes);
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    limited_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

TSmallFilesystem::~TSmallFilesystem() {
    if (mounted_) {
        ::umount2(dir_.path().toLocal8Bit().constData(), MNT_DETACH);
        return;
    }
    if (limited_)
        setrlimit(RLIMIT_FSIZE, &previousLimit_);
    std::signal(SIGXFSZ, previousHandler_);
}
