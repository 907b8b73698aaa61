#include "helptext.h"

#include <QStringList>

namespace rfcfg {

namespace {

struct CommandHelp
{
    const char *name;
    const char *text;
};

const CommandHelp commands[] = {
    {"ports", "Usage: rfcfg ports [--json]\n"
              "\n"
              "Lists the serial ports with what the platform knows of each: description,\n"
              "manufacturer, serial number and USB vendor:product. Needs no --port.\n"
              "\n"
              "JSON: {\"command\": \"ports\", \"ports\": [{\"name\", \"path\", \"description\",\n"
              "      \"manufacturer\", \"serial_number\", \"usb_id\"}]}\n"
              "      (usb_id is \"vvvv:pppp\" in hex, or null; unknown texts are empty)\n"},
    {"discover",
     "Usage: rfcfg [-p PORT ...] discover [--quick] [--json]\n"
     "\n"
     "Finds the module on each port given with -p (repeat it for several; none: every\n"
     "listed port), as many ports at the same time as the open-file limit (ulimit -n)\n"
     "leaves room for, three descriptors each; the next starts as one ends, so every\n"
     "port is tried. A device named twice (a link and its target) is searched once,\n"
     "under the first name. Tries the module's serial settings one after another,\n"
     "most likely first: 9600 EVEN 1 (the factory settings), 9600 NONE 1,\n"
     "115200 NONE 1, then every other rate of the module's list (1200 ... 230400) with\n"
     "each parity and stop bits. At each it sends a version request and waits the\n"
     "request's and reply's time on the line plus 100 ms (--timeout does not apply).\n"
     "An answered setting is taken only once a configuration read at it is answered\n"
     "too (a module that sends version replies unasked answers the version request\n"
     "anywhere); the first setting so confirmed ends the search on that port and is\n"
     "the one reported. --quick tries only the first three. Prints one line per\n"
     "port: rate, parity, stop bits, firmware and date, or \"not found\" (with the\n"
     "reason: \"in use by another program\" for a port another program holds, which\n"
     "is left alone), or \"NAME  same device as PORT\" for a second name; on a\n"
     "terminal a progress line shows the setting being tried.\n"
     "Exit status 0 when every port has a module, 4 when one has none.\n"
     "\n"
     "JSON: {\"command\": \"discover\", \"found\": [{\"port\", \"baud\", \"parity\",\n"
     "      \"stop_bits\", \"firmware\", \"date\"}], \"not_found\": [ports],\n"
     "      \"same_as\": {NAME: PORT}, \"tried\": N}\n"
     "      (tried counts the settings tried on all ports together; a NAME in same_as\n"
     "      is in neither list: its result is that of PORT)\n"},
    {"config get",
     "Usage: rfcfg -p PORT config get [--lora] [--json]\n"
     "\n"
     "Reads the module's configuration and prints one KEY VALUE line per field:\n"
     "  channel          0 ... 31\n"
     "  power            20dBm 17dBm 15dBm 13dBm 11dBm 9dBm 7dBm 5dBm\n"
     "  device_type      slave master\n"
     "  network_id       four hex digits\n"
     "  address          four hex digits (the module's own address)\n"
     "  interface_mode   hex-command transparent\n"
     "  uart_baud        1200 2400 4800 9600 14400 19200 28800 38400 57600 76800\n"
     "                   115200 230400 (the module's own serial line)\n"
     "  uart_parity      none odd even\n"
     "  uart_stop_bits   1 2\n"
     "  rf_data_rate     1200 4800 9600 38400\n"
     "  whitelist        off on\n"
     "With --lora (the LoRa model) also:\n"
     "  bandwidth        7 8 9 (125, 250, 500 kHz)\n"
     "  spreading_factor 7 ... 12\n"
     "  lora_bit_rate    derived from the two, read only\n"
     "A value the module holds outside its list shows as unknown(N), N the raw value;\n"
     "config set takes it back unchanged. Addresses may be written 0x1234 everywhere.\n"
     "\n"
     "JSON: {\"command\": \"config get\", \"format\": 1, \"lora\": BOOL,\n"
     "       \"config\": {KEY: VALUE, ...}}\n"
     "      Every value is a string, the text config set accepts; the document is a\n"
     "      profile, as config set --from, provision --from and the window read.\n"},
    {"config set",
     "Usage: rfcfg -p PORT config set [KEY=VALUE ...] [--from FILE] [--lora] [--no-verify]\n"
     "                                 [--json]\n"
     "\n"
     "Reads the configuration, changes only the keys named, writes it, reads it back and\n"
     "compares the whole record (unless --no-verify). Every bit no named key covers is\n"
     "written back as read. Keys and values are those of config get; list values are\n"
     "matched by their text (case does not matter), network_id and address take\n"
     "exactly four hex digits. Every value is checked before anything is sent.\n"
     "\n"
     "  --from FILE   take the values from FILE, a document written by\n"
     "                config get --json (lora_bit_rate is ignored; \"lora\": true in it\n"
     "                implies --lora); KEY=VALUE arguments override it. FILE is a\n"
     "                regular file of at most 1 MiB; each value is a string as\n"
     "                config get writes it (a key of whole numbers also takes a JSON\n"
     "                number of its list); anything else is refused, naming the key\n"
     "  --lora        the LoRa model: bandwidth and spreading_factor are keys too;\n"
     "                without it both are kept as the module holds them\n"
     "  --no-verify   do not read back\n"
     "\n"
     "Exit status 1 when the module refuses the write or reads back something else.\n"
     "\n"
     "JSON: {\"command\": \"config set\", \"lora\": BOOL, \"changed\": {KEY: VALUE} (the values\n"
     "       that differ from what the module held),\n"
     "       \"config\": {KEY: VALUE} (as written), \"status\": \"success\"|\"failure\",\n"
     "       \"status_code\": N, \"verified\": BOOL or null with --no-verify,\n"
     "       \"differences\": [{\"key\" or \"byte\" (0..15, bits no key shows),\n"
     "       \"written\", \"read_back\"}]}\n"},
    {"version", "Usage: rfcfg -p PORT version [--json]\n"
                "\n"
                "Reads the firmware version and its release date.\n"
                "\n"
                "JSON: {\"command\": \"version\", \"version\": \"10.02\", \"release_date\": "
                "\"2014-03-25\"}\n"},
    {"reset",
     "Usage: rfcfg -p PORT reset [--json]\n"
     "\n"
     "Resets the module. Exit status 1 when it reports a failure.\n"
     "\n"
     "JSON: {\"command\": \"reset\", \"status\": \"success\"|\"failure\", \"status_code\": N}\n"},
    {"whitelist get",
     "Usage: rfcfg -p PORT whitelist get [--json]\n"
     "\n"
     "Reads the five whitelist entries; ffff is an empty entry. Whether the whitelist is\n"
     "used is the configuration's whitelist key.\n"
     "\n"
     "JSON: {\"command\": \"whitelist get\", \"whitelist\": [\"0002\", \"ffff\", ...]}\n"},
    {"whitelist set",
     "Usage: rfcfg -p PORT whitelist set [ADDR ...] [--json]\n"
     "\n"
     "Writes up to five addresses of four hex digits each; the entries not given are\n"
     "written empty (ffff). Exit status 1 when the module reports a failure.\n"
     "\n"
     "JSON: {\"command\": \"whitelist set\", \"whitelist\": [5 entries],\n"
     "       \"status\": \"success\"|\"failure\", \"status_code\": N}\n"},
    {"route",
     "Usage: rfcfg -p PORT route TARGET [--max-hops N] [--json]\n"
     "\n"
     "Asks the module for a route to TARGET (four hex digits) within N hops (1 to 7,\n"
     "default 7) and prints the relays, or the module's status when it finds none\n"
     "(exit status 1).\n"
     "\n"
     "JSON: {\"command\": \"route\", \"target\": \"1234\", \"status\": \"success\"|\"failure\",\n"
     "       \"status_code\": N, \"relays\": [\"0002\", ...]}\n"},
    {"send",
     "Usage: rfcfg -p PORT send TARGET HEX [--route auto|direct|forced|source]\n"
     "                                     [--via A,B,...] [--max-hops N] [--ack]\n"
     "                                     [--count N] [--duration S] [--interval MS]\n"
     "                                     [--csv FILE] [--reconnect S] [--json]\n"
     "\n"
     "Sends the bytes HEX (such as 0102ff or \"01 02 ff\"; may be empty) to node TARGET\n"
     "and prints the module's report.\n"
     "  --route MODE    auto (default), direct (no routing), forced, or source\n"
     "  --via A,B,...   the relays of a source route, up to six\n"
     "  --max-hops N    hop limit, 1 to 7 (default 7); --hops N is the same\n"
     "  --ack           ask for an acknowledgement\n"
     "  --count N       a link test: N sends, each waiting for its report, one every MS\n"
     "  --duration S    a link test for S seconds (with --count: whichever comes first)\n"
     "  --interval MS   milliseconds from one send to the next (default 500; 0: as fast\n"
     "                  as the module answers)\n"
     "  --csv FILE      writes each send as it settles, a line at a time straight to the\n"
     "                  file (and synced to the disk, for intervals of 100 ms or more):\n"
     "                  time,sequence,target,status,latency_ms (status 0xNN or\n"
     "                  \"no reply\"); a time without the port is a line with status \"gap\",\n"
     "                  the sends missed in the sequence column and its length in ms in\n"
     "                  the latency column. A write error stops the record, not the test\n"
     "                  (exit status 5 when the test otherwise succeeded).\n"
     "  --reconnect S   when the port goes away, wait up to S seconds (default 60; 0: do\n"
     "                  not wait) for the device to come back at its path, reopen it at\n"
     "                  the same line settings and go on; the gap and the sends missed in\n"
     "                  it are counted. A port that does not come back ends the test with\n"
     "                  exit status 3.\n"
     "A send that gets no reply is not repeated unless --retries is given here.\n"
     "\n"
     "A link test shows its progress on a terminal (sent, acknowledged, failed by status,\n"
     "no reply, last latency) and ends with a summary: the counts, the delivery ratio and\n"
     "latency minimum, median, 95th percentile and maximum (median and percentile within\n"
     "1 %). Ctrl+C stops it and still prints the summary. A report that comes after its\n"
     "send timed out, before the next send, is counted late (the next send waits one\n"
     "more timeout for it); a send is skipped while the port still holds the previous\n"
     "frame. Exit status: 3 when sends were skipped, else 1 when any send failed by\n"
     "status, else 4 when any got no reply or none completed, else 0.\n"
     "\n"
     "JSON, one send: {\"command\": \"send\", \"target\": \"1234\", \"status\": \"success\"|\n"
     "       \"failure\", \"status_code\": N, \"latency_ms\": X}\n"
     "JSON, link test: {\"command\": \"send\", \"target\", \"sent\", \"acknowledged\", "
     "\"failed\",\n"
     "       \"no_reply\", \"late\", \"skipped\", \"failed_by_status\": {\"0x02\": N},\n"
     "       \"delivery_ratio\": 0..1,\n"
     "       \"latency_ms\": {\"min\", \"median\", \"p95\", \"max\"} or null,\n"
     "       \"gaps\": N, \"missed\": N, \"ended\": \"count\"|\"duration\"|\"lost\"|\n"
     "       \"interrupted\"|\"stopped\", \"csv\": {\"path\", \"lines\", \"error\"},\n"
     "       \"interrupted\": BOOL}\n"},
    {"provision",
     "Usage: rfcfg provision --from PROFILE -p PORT [-p PORT ...] [--address START |\n"
     "                       --map FILE] [--lora] [--log FILE] [--json]\n"
     "\n"
     "Configures every module at once from one profile (a file such as config get --json\n"
     "or the window's \"export\" writes). For each port: reads the version and the\n"
     "configuration, writes the profile's values and the module's address, reads back\n"
     "and compares the whole record. The profile's own address is never written.\n"
     "A profile that gives the module other serial settings (uart_baud, uart_parity,\n"
     "uart_stop_bits) is read back at the new settings once the old ones no longer\n"
     "answer, also when the write's reply was lost, as config set does; the table then\n"
     "says \"now at 115200 EVEN 1\" and serial_after holds them. --timeout is each\n"
     "request's wait for its reply, --retries how often it is sent again.\n"
     "  --address START  the ports get START, START+1, ... in the order named\n"
     "  --map FILE       a CSV of PORT,ADDRESS lines (# comments are skipped; a first\n"
     "                   line port,address, in any case, is taken for column names);\n"
     "                   any other bad line, the first too, refuses the map, naming\n"
     "                   its line. Without -p its ports are used.\n"
     "                   Without either, each module keeps its address.\n"
     "  --log FILE       appends one JSON line per finished module: time (UTC), port,\n"
     "                   usb_serial_number (null when unknown), firmware, address,\n"
     "                   profile (file name), profile_sha256, result, differences,\n"
     "                   serial_after, error and, when interrupted, step. FILE is a\n"
     "                   regular file or a character device; anything else (a named\n"
     "                   pipe) is refused.\n"
     "                   A line that cannot be stored is reported at once; the modules\n"
     "                   started are finished, no other is started, nothing more is\n"
     "                   logged, and the summary counts the records not stored.\n"
     "A module that holds values no list offers is refused unless the profile sets those\n"
     "keys; a port that fails never stops the others. On a terminal one line per port\n"
     "shows its progress; a table ends the run. Ctrl+C closes every port and still prints\n"
     "the table and logs every module that was sent anything (one it stopped with result\n"
     "interrupted and the step it had reached: after writing it may hold the new values);\n"
     "a module sent nothing gets no line.\n"
     "Exit status 0 when every module is ok, else the highest of the modules' statuses\n"
     "(1 failed, 2 refused, 3 port error, 4 no reply or interrupted); 5 when a record was\n"
     "not stored.\n"
     "\n"
     "JSON: {\"command\": \"provision\", \"modules\": [{\"port\", \"address\", \"firmware\",\n"
     "       \"result\": \"ok\"|\"failed\"|\"no_reply\"|\"port_error\"|\"interrupted\",\n"
     "       \"differences\": [{\"key\" or \"byte\", \"written\", \"read_back\"}], \"error\",\n"
     "       \"serial_after\": {\"baud\", \"parity\", \"stop_bits\"} (the settings the\n"
     "       module answered the read back at; null when no write was verified),\n"
     "       \"step\" (when interrupted)}], \"ok\": N, \"failed\": M, \"interrupted\": BOOL,\n"
     "       \"records_not_stored\": N (with --log)}\n"},
    {"monitor",
     "Usage: rfcfg -p PORT monitor [--count N] [--duration MS] [--json]\n"
     "\n"
     "Prints every frame the module sends, with a time stamp, as hex and decoded, until\n"
     "Ctrl+C (or N frames, or MS milliseconds). Noise between frames is skipped.\n"
     "\n"
     "JSON: one document per line and frame: {\"time\": \"2026-01-31T08:00:00.123Z\",\n"
     "       \"hex\": \"01 00 86 ...\", \"decoded\": \"version 10.02, released 2014-03-25\"}\n"},
};

} // namespace

const QStringList &commandNames()
{
    static const QStringList names = [] {
        QStringList list;
        for (const CommandHelp &c : commands)
            list << QString::fromLatin1(c.name);
        return list;
    }();
    return names;
}

QString generalHelp()
{
    return QStringLiteral(
        "Usage: rfcfg [OPTIONS] COMMAND [ARGUMENTS]\n"
        "\n"
        "Configures and tests a serial-attached radio module from the command line.\n"
        "\n"
        "Commands:\n"
        "  ports                     list the serial ports\n"
        "  discover                  find the module and its serial settings\n"
        "  config get                print the configuration\n"
        "  config set KEY=VALUE ...  change, write and verify the configuration\n"
        "  version                   print the firmware version and date\n"
        "  reset                     reset the module\n"
        "  whitelist get             print the five whitelist entries\n"
        "  whitelist set ADDR ...    write the whitelist\n"
        "  route TARGET              search a route to a node\n"
        "  send TARGET HEX           send data once, or run a link test (--count)\n"
        "  monitor                   print every frame received\n"
        "  provision --from PROFILE  configure many modules at once (-p PORT ...)\n"
        "rfcfg COMMAND --help tells more, the JSON keys included.\n"
        "\n"
        "Options:\n"
        "  -p, --port PATH    the serial port: a device path or name (links and\n"
        "                     pseudo-terminals work); provision and discover take\n"
        "                     several\n"
        "  --baud RATE        300 600 1200 2400 4800 9600 14400 19200 28800 38400 56000\n"
        "                     57600 76800 115200 230400 (default 9600)\n"
        "  --parity P         NONE ODD EVEN (default NONE)\n"
        "  --stop-bits N      1 2 (default 1)\n"
        "  --timeout MS       how long to wait for each reply (default 1000)\n"
        "  --retries N        sends repeated after a missing reply (default 2; data sends\n"
        "                     only when given)\n"
        "  --json             print one JSON document instead of text\n"
        "  -h, --help         this text\n"
        "\n"
        "Exit status:\n"
        "  0  success\n"
        "  1  the module answered with a failure status, or verification found a difference\n"
        "  2  bad usage or value\n"
        "  3  the port cannot be opened, is in use by another program, or was lost\n"
        "  4  no reply\n"
        "  5  standard output or standard error could not be written (a full disk, a\n"
        "     closed pipe); monitor and link tests end at the first such write\n"
        "Errors go to standard error, one line each; with --json the document also\n"
        "carries \"error\" and \"exit_status\". Every JSON document has \"command\"; a frame\n"
        "that arrived without being asked for is listed under \"unsolicited\" as\n"
        "{\"hex\", \"decoded\"} (the first 100; \"unsolicited_total\" counts them all), as a\n"
        "note on standard error without --json (the first 100, then how many more).\n");
}

QString commandHelp(const QString &command)
{
    for (const CommandHelp &c : commands) {
        if (command == QLatin1String(c.name))
            return QString::fromLatin1(c.text);
    }
    return {};
}

} // namespace rfcfg
