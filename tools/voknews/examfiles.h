#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <vector>

// The test-data files of the exam folder (VOK1.exm to VOK1000.exm), for listing and deleting.
namespace tessarin {

struct ExamFile
{
    QString path;
    int number = 0; // n of VOKn.exm
    qint64 size = 0;
    QDateTime modified;
};

// The exam folder in the program directory.
QString examDirectory();

// The files named VOKn.exm (n from 1 to 1000; letter case as the file system keeps it) in `dir`,
// in order of n. A missing folder has none.
std::vector<ExamFile> listExamFiles(const QString &dir);

// Deletes the files; returns one message per file that could not be deleted.
QStringList deleteExamFiles(const std::vector<ExamFile> &files);

} // namespace tessarin
