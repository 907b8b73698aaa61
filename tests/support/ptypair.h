#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A pseudo-terminal pair: the tool opens the slave as its serial port, the test plays the
// module on the master. The tool reaches the slave through a link of its own, which a hang-up
// removes as a pulled USB device's path vanishes: a reopen then fails, whatever terminal numbers
// other programs are handed meanwhile.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return masterFd >= 0; }
    QString slavePath() const { return link; }

    void write(const QByteArray &bytes);
    // Reads until `count` bytes have arrived or the time is up, running the event loop meanwhile
    // so that the tool's queued writes go out.
    QByteArray read(int count, int timeoutMs = 3000);
    // Everything that arrives within the time.
    QByteArray readFor(int ms);
    // Hangs up, as a pulled cable does.
    void hangUp();
    // Fills the line towards the far end until it takes no more, as a module that stopped
    // reading leaves it; returns the number of filler bytes (0xEE), which read() then drains.
    int fillLine();

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
    QTemporaryDir linkDir;
    QString link;
};

// The process's CPU time (user + system) in milliseconds.
double processCpuMs();

// Marks every descriptor of this process above the standard three close-on-exec: the module's
// side of a line must not live on in a child program (rfcfg), or a pulled cable would not show.
void keepDescriptorsFromChildren();
