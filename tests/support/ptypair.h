#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair: the tool opens the slave as its serial port, the test plays the
// module on the master.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return masterFd >= 0; }
    QString slavePath() const { return slave; }

    void write(const QByteArray &bytes);
    // Reads until `count` bytes have arrived or the time is up, running the event loop meanwhile
    // so that the tool's queued writes go out.
    QByteArray read(int count, int timeoutMs = 3000);
    // Everything that arrives within the time.
    QByteArray readFor(int ms);
    // Hangs up, as a pulled cable does.
    void hangUp();

    struct LineSettings
    {
        unsigned baud = 0;
        bool oddParity = false; // the pty driver drops PARENB; PARODD tells odd from even
        bool twoStopBits = false;
        bool eightDataBits = false;
    };
    LineSettings lineSettings() const;

private:
    int masterFd = -1;
    int slaveKeepFd = -1; // keeps the slave side alive between the tool's opens
    QString slave;
};

// The process's CPU time (user + system) in milliseconds.
double processCpuMs();
