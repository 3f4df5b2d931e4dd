// The files of the last runs that moved records, for File > Recent Files: each the
// source or the destination of its run, the newest first, kept in the user's settings
// (~/.config/trundle/trundle.ini) between sessions.
#pragma once

#include <QString>
#include <QVector>

namespace trundle {

struct RecentFile {
  bool source = true;
  QString path;  // absolute
  bool operator==(const RecentFile& other) const {
    return source == other.source && path == other.path;
  }
};

class RecentFiles {
 public:
  static constexpr int kKept = 8;

  // The list as the settings hold it; an entry that cannot be read is left out.
  static QVector<RecentFile> Load();
  // Puts file first (moving it up when it is there already), keeps kKept and stores them.
  static void Add(const RecentFile& file);
  static void Remove(const RecentFile& file);
  static void Clear();

 private:
  static void Store(const QVector<RecentFile>& files);
};

}  // namespace trundle
