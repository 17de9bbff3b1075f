#pragma once
// The "参数扫描" dialog: up to two inputs over ranges (or sampled), the values to report, run in
// the background by tessarin-cli sweep on a copy of the project as the window holds it, with a
// progress bar and cancel; the table can be copied to the clipboard or saved as CSV.
#include <QDialog>
#include <QProcess>
#include <QStringList>

#include <memory>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTemporaryDir;

namespace tessarin {

class TqzWorkbook;
class TqzProject;
class TqzProjectFile;

class TqzSweepDialog : public QDialog
{
    Q_OBJECT
public:
    // `file` and `workbook` give the project as the window holds it (typed values included); they
    // must outlive the dialog, which is why the window is its parent.
    TqzSweepDialog(const TqzProject &project,
                   TqzWorkbook &workbook,
                   const TqzProjectFile &file,
                   QWidget *parent = nullptr);
    ~TqzSweepDialog() override;

    // The parts a test drives.
    struct InputRow
    {
        QComboBox *name = nullptr;
        QComboBox *kind = nullptr; // 范围, 正态, 均匀, 三角, 对数正态
        QLineEdit *a = nullptr;
        QLineEdit *b = nullptr;
        QLineEdit *c = nullptr;
    };
    InputRow inputs[2];
    QSpinBox *steps = nullptr; // per axis for ranges, cases when sampled
    QSpinBox *seed = nullptr;
    QListWidget *outputs = nullptr;
    QTableWidget *table = nullptr;
    QProgressBar *progress = nullptr;
    QLabel *status = nullptr;
    QPushButton *runButton = nullptr;
    QPushButton *cancelButton = nullptr;

    // The arguments of the sweep as the dialog stands (without the project file); an empty
    // list with the reason in `why` when something is missing or wrong.
    QStringList sweepArguments(QString *why) const;
    // Starts the sweep; false (with the reason shown) when it cannot start.
    bool start();
    void cancel();
    bool isRunning() const;
    // The table as CSV text (header and rows), as "保存CSV" writes it.
    QString csvText() const;
    void copyToClipboard() const;

signals:
    // The sweep ended: completed, cancelled or failed (`message` says which and why).
    void finished(bool completed, const QString &message);

private:
    void readRows();
    void sweepFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void saveCsv();
    void kindChanged(int row);

    TqzWorkbook &m_workbook;
    const TqzProjectFile &m_file;
    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<QTemporaryDir> m_dir;
    QByteArray m_pending;
    QStringList m_inputNames;
    QStringList m_outputNames;
    qint64 m_total = 0;
    bool m_cancelled = false;
};

} // namespace tessarin
