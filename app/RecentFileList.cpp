#include "app/RecentFileList.h"

#include <QSettings>

namespace tarvo {

CRecentFileList::CRecentFileList(int size, QString section, QString entryFormat)
    : size_(size), section_(std::move(section)), entryFormat_(std::move(entryFormat))
{
}

void CRecentFileList::Add(const QString& path)
{
    if (path.isEmpty() || size_ <= 0)
        return;
    files_.removeAll(path);
    files_.prepend(path);
    while (files_.size() > size_)
        files_.removeLast();
}

void CRecentFileList::Remove(int index)
{
    if (index >= 0 && index < files_.size())
        files_.removeAt(index);
}

void CRecentFileList::ReadList(QSettings& profile)
{
    files_.clear();
    profile.beginGroup(section_);
    for (int i = 1; i <= size_; ++i) {
        QString path = profile.value(entryFormat_.arg(i)).toString();
        if (!path.isEmpty() && !files_.contains(path))
            files_.append(path);
    }
    profile.endGroup();
}

void CRecentFileList::WriteList(QSettings& profile) const
{
    profile.beginGroup(section_);
    for (int i = 1; i <= size_; ++i) {
        if (i <= files_.size())
            profile.setValue(entryFormat_.arg(i), files_[i - 1]);
        else
            profile.remove(entryFormat_.arg(i));
    }
    profile.endGroup();
}

}  // namespace tarvo
