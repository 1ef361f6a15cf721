#pragma once
// One running application per user and display. A later start hands the
// files of its command line to the running one, which adds them to its list,
// and ends; with no application running it becomes the running one.

#include <QObject>
#include <QString>

#include <filesystem>
#include <memory>
#include <vector>

class QLocalServer;
class QLocalSocket;
class QLockFile;

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The socket lives at `socketPath`; a lock file beside it says which
    // process serves it.
    explicit SingleInstance(QString socketPath, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The socket for this user and display: in $XDG_RUNTIME_DIR, else in the
    // private temporary folder. Empty without a display, or when neither
    // folder is usable: the application then runs on its own.
    static QString defaultSocketPath();

    // Hands the files (made absolute against the current folder) to a running
    // instance; true once it has taken them. False when none runs: this
    // process then holds the lock and should listen().
    bool handOver(const std::vector<std::filesystem::path>& files);
    // Serves later starts; false when the socket cannot be opened.
    bool listen();
    bool isListening() const;

signals:
    // Files handed over by a later start, in the order it named them.
    void filesHandedOver(const std::vector<std::filesystem::path>& files);

private:
    void serve(QLocalSocket* socket);

    QString socketPath_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};
