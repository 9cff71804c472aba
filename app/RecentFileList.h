// The recent-file list kept in the application's profile: most recent
// first, at most a fixed number of entries.
#pragma once

#include <QString>
#include <QStringList>

class QSettings;

namespace tarvo {

class CRecentFileList {
public:
    explicit CRecentFileList(int size, QString section = QStringLiteral("Recent File List"),
                             QString entryFormat = QStringLiteral("File%1"));

    // Puts path at the top, removing an earlier entry of the same file and
    // the oldest entry when the list is full.
    void Add(const QString& path);
    void Remove(int index);
    int Size() const { return size_; }
    const QStringList& Files() const { return files_; }

    void ReadList(QSettings& profile);
    void WriteList(QSettings& profile) const;

private:
    int size_;
    QString section_;
    QString entryFormat_;
    QStringList files_;
};

}  // namespace tarvo
