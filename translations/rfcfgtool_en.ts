<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>CaptureControl</name>
    <message>
        <source>抓包</source>
        <translation>Capture</translation>
    </message>
    <message>
        <source>pcapng 抓包文件 (*.pcapng);;所有文件 (*)</source>
        <translation>pcapng captures (*.pcapng);;All files (*)</translation>
    </message>
    <message>
        <source>抓包已停止</source>
        <translation>Capture stopped</translation>
    </message>
    <message>
        <source>抓包文件 %1 无法写入，抓包已停止：%2</source>
        <translation>The capture file %1 cannot be written; the capture stopped: %2</translation>
    </message>
    <message>
        <source>停止抓包</source>
        <translation>Stop capture</translation>
    </message>
    <message>
        <source>正在抓包到 %1</source>
        <translation>Capturing to %1</translation>
    </message>
    <message>
        <source>抓包…</source>
        <translation>Capture…</translation>
    </message>
    <message>
        <source>把收发的帧记录到 pcapng 文件（可用 Wireshark 打开）</source>
        <translation>Record the frames sent and received in a pcapng file (Wireshark opens it)</translation>
    </message>
</context>
<context>
    <name>ConfigForm</name>
    <message>
        <source>以下列表没有选定的值：</source>
        <translation>These lists have no value selected: </translation>
    </message>
    <message>
        <source>开</source>
        <translation>on</translation>
    </message>
    <message>
        <source>关</source>
        <translation>off</translation>
    </message>
    <message>
        <source>导出配置</source>
        <translation>Export configuration</translation>
    </message>
    <message>
        <source>配置文件 (*.json);;所有文件 (*)</source>
        <translation>Configuration files (*.json);;All files (*)</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>无法保存文件：%1</source>
        <translation>Cannot save the file: %1</translation>
    </message>
    <message>
        <source>已导出配置：</source>
        <translation>Configuration exported: </translation>
    </message>
    <message>
        <source>导入配置</source>
        <translation>Import configuration</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>无法导入配置：
</source>
        <translation>Cannot import the configuration:
</translation>
    </message>
    <message>
        <source>已导入配置（未写入模块）：</source>
        <translation>Configuration imported (not written to the module): </translation>
    </message>
    <message>
        <source>  没有字段改动
</source>
        <translation>  no field changed
</translation>
    </message>
</context>
<context>
    <name>DataSendForm</name>
    <message>
        <source>第%1个字符不符合格式：每个字节两位十六进制数，字节之间可空一格</source>
        <translation>Character %1 does not fit: two hex digits a byte, at most one blank between bytes</translation>
    </message>
    <message>
        <source>格式有误（第%1个字符）</source>
        <translation>malformed (character %1)</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>请输入正确格式</source>
        <translation>Please enter the data in the correct format</translation>
    </message>
    <message>
        <source>数据过长：最多可发送%1字节</source>
        <translation>Data too long: at most %1 bytes can be sent</translation>
    </message>
</context>
<context>
    <name>DecodeBox</name>
    <message>
        <source>解码</source>
        <translation>Decode</translation>
    </message>
    <message>
        <source>十六进制字节（可粘贴收发框中的行）：</source>
        <translation>Hex bytes (lines of the send and receive boxes may be pasted):</translation>
    </message>
    <message>
        <source>解码结果：</source>
        <translation>Decoded:</translation>
    </message>
    <message>
        <source>不是十六进制：</source>
        <translation>Not hex: </translation>
    </message>
    <message>
        <source>请求</source>
        <translation>Request</translation>
    </message>
    <message>
        <source>应答</source>
        <translation>Reply</translation>
    </message>
    <message>
        <source>进配置模式</source>
        <translation>Config mode</translation>
    </message>
    <message>
        <source>不是帧</source>
        <translation>Not a frame</translation>
    </message>
    <message>
        <source>错误：</source>
        <translation>Error: </translation>
    </message>
</context>
<context>
    <name>Demo</name>
    <message>
        <source>无法创建虚拟模块。</source>
        <translation>Cannot create the virtual module.</translation>
    </message>
    <message>
        <source>（虚拟模块演示）</source>
        <translation> (virtual module demo)</translation>
    </message>
    <message>
        <source>虚拟模块</source>
        <translation>Virtual module</translation>
    </message>
</context>
<context>
    <name>Dialog</name>
    <message>
        <source>无线模块配置和测试工具</source>
        <translation>Radio Module Configuration and Test Tool</translation>
    </message>
    <message>
        <source>RQ-520M模块</source>
        <translation>RQ-520M module</translation>
    </message>
    <message>
        <source>无线模块配置和测试工具——Corvexa</source>
        <translation>Radio Module Configuration and Test Tool — Corvexa</translation>
    </message>
    <message>
        <source>TQ-520M模块</source>
        <translation>TQ-520M module</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>以下字段需要留空或填写四位十六进制数：</source>
        <translation>These fields must be empty or hold four hex digits: </translation>
    </message>
    <message>
        <source>写配置</source>
        <translation>Write config</translation>
    </message>
    <message>
        <source>还没有从这个模块读过配置。
所有字段都将按界面所示写入模块。
是否继续？</source>
        <translation>Nothing has been read from this module yet.
Every field will be written as shown.
Continue?</translation>
    </message>
    <message>
        <source>写配置：与上次读到的配置相同
</source>
        <translation>Write config: the same as last read
</translation>
    </message>
    <message>
        <source>写配置，改动的字段：
</source>
        <translation>Write config, fields changed:
</translation>
    </message>
    <message>
        <source>连续发送</source>
        <translation>Repeat</translation>
    </message>
    <message>
        <source>连续发送正在进行，确定要结束并退出吗？</source>
        <translation>Repeated sending is running. End it and quit?</translation>
    </message>
</context>
<context>
    <name>DialogForm</name>
    <message>
        <source>Dialog</source>
        <translation>Dialog</translation>
    </message>
    <message>
        <source>测试模块串口</source>
        <translation>Module port</translation>
    </message>
    <message>
        <source>打开串口</source>
        <translation>Open port</translation>
    </message>
    <message>
        <source>串口号：</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>波特率：</source>
        <translation>Baud:</translation>
    </message>
    <message>
        <source>校验位：</source>
        <translation>Parity:</translation>
    </message>
    <message>
        <source>停止位：</source>
        <translation>Stop bits:</translation>
    </message>
    <message>
        <source>接收信息框：</source>
        <translation>Received:</translation>
    </message>
    <message>
        <source>发送信息框：</source>
        <translation>Sent:</translation>
    </message>
    <message>
        <source>清空</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>模块参数配置</source>
        <translation>Module parameters</translation>
    </message>
    <message>
        <source>信道号：</source>
        <translation>Channel:</translation>
    </message>
    <message>
        <source>发射功率：</source>
        <translation>TX power:</translation>
    </message>
    <message>
        <source>20dBm</source>
        <translation>20dBm</translation>
    </message>
    <message>
        <source>17dBm</source>
        <translation>17dBm</translation>
    </message>
    <message>
        <source>15dBm</source>
        <translation>15dBm</translation>
    </message>
    <message>
        <source>13dBm</source>
        <translation>13dBm</translation>
    </message>
    <message>
        <source>11dBm</source>
        <translation>11dBm</translation>
    </message>
    <message>
        <source>9dBm</source>
        <translation>9dBm</translation>
    </message>
    <message>
        <source>7dBm</source>
        <translation>7dBm</translation>
    </message>
    <message>
        <source>5dBm</source>
        <translation>5dBm</translation>
    </message>
    <message>
        <source>设备类型：</source>
        <translation>Type:</translation>
    </message>
    <message>
        <source>Slave</source>
        <translation>Slave</translation>
    </message>
    <message>
        <source>Master</source>
        <translation>Master</translation>
    </message>
    <message>
        <source>网络ID：</source>
        <translation>Network ID:</translation>
    </message>
    <message>
        <source>模块地址：</source>
        <translation>Address:</translation>
    </message>
    <message>
        <source>接口模式：</source>
        <translation>Interface:</translation>
    </message>
    <message>
        <source>16进制命令</source>
        <translation>Hex</translation>
    </message>
    <message>
        <source>透明模式</source>
        <translation>Transp.</translation>
    </message>
    <message>
        <source>串口速率：</source>
        <translation>UART rate:</translation>
    </message>
    <message>
        <source>1200</source>
        <translation>1200</translation>
    </message>
    <message>
        <source>2400</source>
        <translation>2400</translation>
    </message>
    <message>
        <source>4800</source>
        <translation>4800</translation>
    </message>
    <message>
        <source>9600</source>
        <translation>9600</translation>
    </message>
    <message>
        <source>14400</source>
        <translation>14400</translation>
    </message>
    <message>
        <source>19200</source>
        <translation>19200</translation>
    </message>
    <message>
        <source>28800</source>
        <translation>28800</translation>
    </message>
    <message>
        <source>38400</source>
        <translation>38400</translation>
    </message>
    <message>
        <source>57600</source>
        <translation>57600</translation>
    </message>
    <message>
        <source>76800</source>
        <translation>76800</translation>
    </message>
    <message>
        <source>115200</source>
        <translation>115200</translation>
    </message>
    <message>
        <source>230400</source>
        <translation>230400</translation>
    </message>
    <message>
        <source>无校验</source>
        <translation>None</translation>
    </message>
    <message>
        <source>奇校验</source>
        <translation>Odd</translation>
    </message>
    <message>
        <source>偶校验</source>
        <translation>Even</translation>
    </message>
    <message>
        <source>1位停止位</source>
        <translation>1 bit</translation>
    </message>
    <message>
        <source>2位停止位</source>
        <translation>2 bits</translation>
    </message>
    <message>
        <source>空中速率：</source>
        <translation>Air rate:</translation>
    </message>
    <message>
        <source>信号带宽：</source>
        <translation>Bandwidth:</translation>
    </message>
    <message>
        <source>扩频因子：</source>
        <translation>Spreading:</translation>
    </message>
    <message>
        <source>7</source>
        <translation>7</translation>
    </message>
    <message>
        <source>8</source>
        <translation>8</translation>
    </message>
    <message>
        <source>9</source>
        <translation>9</translation>
    </message>
    <message>
        <source>10</source>
        <translation>10</translation>
    </message>
    <message>
        <source>11</source>
        <translation>11</translation>
    </message>
    <message>
        <source>12</source>
        <translation>12</translation>
    </message>
    <message>
        <source>写配置</source>
        <translation>Write config</translation>
    </message>
    <message>
        <source>读配置</source>
        <translation>Read config</translation>
    </message>
    <message>
        <source>进配置模式</source>
        <translation>Config mode</translation>
    </message>
    <message>
        <source>RQ-520M模块</source>
        <translation>RQ-520M module</translation>
    </message>
    <message>
        <source>使能白名单表</source>
        <translation>Enable whitelist</translation>
    </message>
    <message>
        <source>源路由搜索测试</source>
        <translation>Route search</translation>
    </message>
    <message>
        <source>目标地址：</source>
        <translation>Target:</translation>
    </message>
    <message>
        <source>源路由搜索</source>
        <translation>Search route</translation>
    </message>
    <message>
        <source>最大跳数：</source>
        <translation>Max hops:</translation>
    </message>
    <message>
        <source>1</source>
        <translation>1</translation>
    </message>
    <message>
        <source>2</source>
        <translation>2</translation>
    </message>
    <message>
        <source>3</source>
        <translation>3</translation>
    </message>
    <message>
        <source>4</source>
        <translation>4</translation>
    </message>
    <message>
        <source>5</source>
        <translation>5</translation>
    </message>
    <message>
        <source>6</source>
        <translation>6</translation>
    </message>
    <message>
        <source>应用数据发送测试</source>
        <translation>Application data</translation>
    </message>
    <message>
        <source>路由方式：</source>
        <translation>Routing:</translation>
    </message>
    <message>
        <source>禁止路由</source>
        <translation>No routing</translation>
    </message>
    <message>
        <source>自动路由</source>
        <translation>Auto routing</translation>
    </message>
    <message>
        <source>强制路由</source>
        <translation>Forced routing</translation>
    </message>
    <message>
        <source>源路由</source>
        <translation>Source routing</translation>
    </message>
    <message>
        <source>ACK请求</source>
        <translation>ACK request</translation>
    </message>
    <message>
        <source>数据长度：</source>
        <translation>Data length:</translation>
    </message>
    <message>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <source>(Bytes)</source>
        <translation>(Bytes)</translation>
    </message>
    <message>
        <source>中继数：</source>
        <translation>Relays:</translation>
    </message>
    <message>
        <source>中继列表：</source>
        <translation>Relay list:</translation>
    </message>
    <message>
        <source>发送数据</source>
        <translation>Send data</translation>
    </message>
    <message>
        <source>连续发送</source>
        <translation>Repeat</translation>
    </message>
    <message>
        <source>500ms</source>
        <translation>500ms</translation>
    </message>
    <message>
        <source>1000ms</source>
        <translation>1000ms</translation>
    </message>
    <message>
        <source>1500ms</source>
        <translation>1500ms</translation>
    </message>
    <message>
        <source>2000ms</source>
        <translation>2000ms</translation>
    </message>
    <message>
        <source>2500ms</source>
        <translation>2500ms</translation>
    </message>
    <message>
        <source>3000ms</source>
        <translation>3000ms</translation>
    </message>
    <message>
        <source>3500ms</source>
        <translation>3500ms</translation>
    </message>
    <message>
        <source>4000ms</source>
        <translation>4000ms</translation>
    </message>
    <message>
        <source>4500ms</source>
        <translation>4500ms</translation>
    </message>
    <message>
        <source>5000ms</source>
        <translation>5000ms</translation>
    </message>
    <message>
        <source>其它命令测试</source>
        <translation>Other commands</translation>
    </message>
    <message>
        <source>读版本</source>
        <translation>Read version</translation>
    </message>
    <message>
        <source>模块复位</source>
        <translation>Reset module</translation>
    </message>
    <message>
        <source>白名单表</source>
        <translation>Whitelist</translation>
    </message>
    <message>
        <source>节点地址：</source>
        <translation>Nodes:</translation>
    </message>
    <message>
        <source>读白名单</source>
        <translation>Read whitelist</translation>
    </message>
    <message>
        <source>写白名单</source>
        <translation>Write whitelist</translation>
    </message>
    <message>
        <source>导出配置…</source>
        <translation>Export configuration…</translation>
    </message>
    <message>
        <source>导入配置…</source>
        <translation>Import configuration…</translation>
    </message>
    <message>
        <source>在所选串口（串口号为空时在所有串口）上依次尝试模块的串口参数，找到后打开串口</source>
        <translation>Tries the module&apos;s serial settings one after another on the chosen port (on every port when the field is empty) and opens the port where the module answers</translation>
    </message>
    <message>
        <source>查找模块</source>
        <translation>Find module</translation>
    </message>
    <message>
        <source>连续发送时每次发送等待应答的时间；超时后再等待同样长的时间接收迟到的应答</source>
        <translation>How long each repeated send waits for its reply; after that, as long again for a late reply</translation>
    </message>
    <message>
        <source> ms</source>
        <translation> ms</translation>
    </message>
    <message>
        <source>抓包…</source>
        <translation>Capture…</translation>
    </message>
    <message>
        <source>解码…</source>
        <translation>Decode…</translation>
    </message>
    <message>
        <source>网络拓扑</source>
        <translation>Network map</translation>
    </message>
</context>
<context>
    <name>FieldNames</name>
    <message>
        <source>（第%1个）</source>
        <translation> (no. %1)</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>以下字段需要四位十六进制数：</source>
        <translation>These fields need four hex digits: </translation>
    </message>
</context>
<context>
    <name>LinkTestPanel</name>
    <message>
        <source>已发送：</source>
        <translation>Sent:</translation>
    </message>
    <message>
        <source>送达（状态0）：</source>
        <translation>Delivered (status 0):</translation>
    </message>
    <message>
        <source>失败：</source>
        <translation>Failed:</translation>
    </message>
    <message>
        <source>无应答：</source>
        <translation>No reply:</translation>
    </message>
    <message>
        <source>送达率：</source>
        <translation>Delivery ratio:</translation>
    </message>
    <message>
        <source>时延（最小/中位/95%/最大）：</source>
        <translation>Latency (min/median/95%/max):</translation>
    </message>
    <message>
        <source>导出…</source>
        <translation>Export…</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>%1（跳过%2）</source>
        <translation>%1 (%2 skipped)</translation>
    </message>
    <message>
        <source>%1（%2）</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>，</source>
        <translation>, </translation>
    </message>
    <message>
        <source>导出链路测试</source>
        <translation>Export link test</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv);;所有文件 (*)</source>
        <translation>CSV files (*.csv);;All files (*)</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>无法保存文件：%1</source>
        <translation>Cannot save the file: %1</translation>
    </message>
    <message>
        <source>迟到的应答：</source>
        <translation>Late replies:</translation>
    </message>
    <message>
        <source>断开：</source>
        <translation>Gaps:</translation>
    </message>
    <message>
        <source>串口已断开，等待重新连接…</source>
        <translation>Port lost, waiting for it to come back…</translation>
    </message>
    <message>
        <source>串口已重新连接，继续发送（断开 %1 秒，漏发 %2 次）</source>
        <translation>Port back, sending goes on (away %1 s, %2 sends missed)</translation>
    </message>
    <message>
        <source>%1 次（漏发 %2 次）</source>
        <translation>%1 (%2 sends missed)</translation>
    </message>
</context>
<context>
    <name>LinkTestView</name>
    <message>
        <source>不限次数</source>
        <translation>No count limit</translation>
    </message>
    <message>
        <source> 次</source>
        <translation> sends</translation>
    </message>
    <message>
        <source>连续发送的次数，到达后停止；0：不限</source>
        <translation>Repeated sending stops after this many sends; 0: no limit</translation>
    </message>
    <message>
        <source>不限时长</source>
        <translation>No time limit</translation>
    </message>
    <message>
        <source> 秒</source>
        <translation> s</translation>
    </message>
    <message>
        <source>连续发送的时长，到达后停止；0：不限</source>
        <translation>Repeated sending stops after this many seconds; 0: no limit</translation>
    </message>
    <message>
        <source>只记录异常</source>
        <translation>Log failures only</translation>
    </message>
    <message>
        <source>连续发送时，成功（状态0）的发送和应答不写入收发框；统计仍计入每一次发送</source>
        <translation>During repeated sending, sends answered with status 0 stay out of the log boxes; the figures still count every send</translation>
    </message>
    <message>
        <source>记录已停止（%1）：%2</source>
        <translation>Recording stopped (%1): %2</translation>
    </message>
    <message>
        <source>无法创建文件夹</source>
        <translation>cannot create the folder</translation>
    </message>
    <message>
        <source>无法记录（%1）：%2</source>
        <translation>Cannot record (%1): %2</translation>
    </message>
    <message>
        <source>记录到：%1</source>
        <translation>Recording to: %1</translation>
    </message>
    <message>
        <source>%1 已停止：达到发送次数 %2</source>
        <translation>%1 stopped: %2 sends reached</translation>
    </message>
    <message>
        <source>%1 已停止：达到发送时长 %2 秒</source>
        <translation>%1 stopped: %2 s reached</translation>
    </message>
    <message>
        <source>%1 已停止：串口断开，未能重新连接</source>
        <translation>%1 stopped: the port was lost and did not come back</translation>
    </message>
    <message>
        <source>%1 已停止</source>
        <translation>%1 stopped</translation>
    </message>
    <message>
        <source>%1 已停止：数据无法发送</source>
        <translation>%1 stopped: the data could not be sent</translation>
    </message>
    <message>
        <source>记录到…</source>
        <translation>Record to…</translation>
    </message>
    <message>
        <source>选择下一次连续发送记录到的文件（重新写入）；之后的每一次在同一文件夹新建文件。未选择时记录到：%1</source>
        <translation>Choose the file the next repeated-sending run is recorded in (written afresh); each run after it gets a new file in the same folder. Without a choice, runs are recorded in: %1</translation>
    </message>
    <message>
        <source>下一次记录到：%1</source>
        <translation>Next run recorded in: %1</translation>
    </message>
    <message>
        <source>记录连续发送</source>
        <translation>Record repeated sending</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv);;所有文件 (*)</source>
        <translation>CSV files (*.csv);;All files (*)</translation>
    </message>
</context>
<context>
    <name>LogView</name>
    <message>
        <source>复制</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>全选</source>
        <translation>Select All</translation>
    </message>
    <message>
        <source>另存为…</source>
        <translation>Save As…</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>时间戳</source>
        <translation>Time Stamps</translation>
    </message>
    <message>
        <source>另存为</source>
        <translation>Save As</translation>
    </message>
    <message>
        <source>文本文件 (*.txt);;所有文件 (*)</source>
        <translation>Text files (*.txt);;All files (*)</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>无法保存文件：%1</source>
        <translation>Cannot save the file: %1</translation>
    </message>
</context>
<context>
    <name>NetworkMapView</name>
    <message>
        <source>本模块</source>
        <translation>Own module</translation>
    </message>
    <message>
        <source>未到达</source>
        <translation>Not reached</translation>
    </message>
    <message numerus="yes">
        <source>%n 跳</source>
        <translation>
            <numerusform>%n hop</numerusform>
            <numerusform>%n hops</numerusform>
        </translation>
    </message>
    <message>
        <source>%1（本模块）</source>
        <translation>%1 (own module)</translation>
    </message>
    <message>
        <source>路由中继</source>
        <translation>route relay</translation>
    </message>
    <message>
        <source>路由目标</source>
        <translation>route target</translation>
    </message>
    <message>
        <source>数据发送目标</source>
        <translation>data-send target</translation>
    </message>
    <message>
        <source>来源：%1</source>
        <translation>Learned as: %1</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>首次出现：%1，最近确认：%2</source>
        <translation>First seen %1, last confirmed %2</translation>
    </message>
    <message>
        <source>跳数：%1</source>
        <translation>Hops: %1</translation>
    </message>
    <message>
        <source>路由：%1</source>
        <translation>Route: %1</translation>
    </message>
    <message>
        <source>直达</source>
        <translation>direct</translation>
    </message>
    <message>
        <source>路由搜索成功 %1 次，失败 %2 次；数据发送成功 %3 次，失败 %4 次</source>
        <translation>Routes found %1, failed %2; sends delivered %3, failed %4</translation>
    </message>
    <message>
        <source>路由</source>
        <translation>route</translation>
    </message>
    <message>
        <source>发送</source>
        <translation>send</translation>
    </message>
    <message>
        <source>无应答</source>
        <translation>no reply</translation>
    </message>
    <message>
        <source>成功</source>
        <translation>success</translation>
    </message>
    <message>
        <source>失败（状态 0x%1）</source>
        <translation>failed (status 0x%1)</translation>
    </message>
    <message>
        <source>过时的链路：%1</source>
        <translation>Stale links: %1</translation>
    </message>
</context>
<context>
    <name>NetworkMapWindow</name>
    <message>
        <source>网络拓扑</source>
        <translation>Network map</translation>
    </message>
    <message>
        <source>例如 0002 0010-0020 whitelist @文件</source>
        <translation>such as 0002 0010-0020 whitelist @FILE</translation>
    </message>
    <message>
        <source>要扫描的目标：地址（四位十六进制）、范围（0001-0040）、@文件（每行一个地址或范围，# 起注释）或 whitelist（模块的白名单）</source>
        <translation>Targets to scan: addresses (four hex digits), ranges (0001-0040), @FILE (one address or range a line, # starts a comment) or whitelist (the module&apos;s whitelist)</translation>
    </message>
    <message>
        <source>扫描</source>
        <translation>Scan</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>导出DOT</source>
        <translation>Export DOT</translation>
    </message>
    <message>
        <source>导出PNG</source>
        <translation>Export PNG</translation>
    </message>
    <message>
        <source>目标：</source>
        <translation>Targets:</translation>
    </message>
    <message>
        <source>最大跳数：</source>
        <translation>Max hops:</translation>
    </message>
    <message>
        <source>无法保存网络拓扑：%1</source>
        <translation>Cannot keep the network map: %1</translation>
    </message>
    <message>
        <source>无法读取保存的网络拓扑：%1</source>
        <translation>Cannot read the kept network map: %1</translation>
    </message>
    <message>
        <source>模块 %1：%2 个节点，%3 条链路</source>
        <translation>Module %1: %2 nodes, %3 links</translation>
    </message>
    <message>
        <source>%1 个节点，%2 条链路（读配置后按模块地址保存）</source>
        <translation>%1 nodes, %2 links (kept by module address once the configuration is read)</translation>
    </message>
    <message>
        <source>请输入要扫描的目标。</source>
        <translation>Enter the targets to scan.</translation>
    </message>
    <message>
        <source>目标有误：%1</source>
        <translation>Targets: %1</translation>
    </message>
    <message>
        <source>请先打开串口。</source>
        <translation>Open the port first.</translation>
    </message>
    <message>
        <source>扫描中……</source>
        <translation>Scanning…</translation>
    </message>
    <message>
        <source>扫描完成：%1 个目标，找到 %2 条路由</source>
        <translation>Scan done: %1 targets, %2 routes found</translation>
    </message>
    <message>
        <source>扫描 %1（%2/%3）</source>
        <translation>Scanning %1 (%2/%3)</translation>
    </message>
    <message>
        <source>扫描已停止：%1/%2 个目标，找到 %3 条路由</source>
        <translation>Scan stopped: %1/%2 targets, %3 routes found</translation>
    </message>
    <message>
        <source>扫描已停止</source>
        <translation>Scan stopped</translation>
    </message>
    <message>
        <source>源路由</source>
        <translation>Source routing</translation>
    </message>
    <message>
        <source>到 %1 的路由经过 %2 个中继：%3
是否填入源路由的中继地址？</source>
        <translation>The route to %1 passes %2 relays: %3
Fill them in as the source route?</translation>
    </message>
    <message>
        <source>Graphviz 文件 (*.dot);;所有文件 (*)</source>
        <translation>Graphviz files (*.dot);;All files (*)</translation>
    </message>
    <message>
        <source>无法写入 %1：%2</source>
        <translation>Cannot write %1: %2</translation>
    </message>
    <message>
        <source>PNG 图片 (*.png);;所有文件 (*)</source>
        <translation>PNG images (*.png);;All files (*)</translation>
    </message>
    <message>
        <source>无法写入 %1</source>
        <translation>Cannot write %1</translation>
    </message>
</context>
<context>
    <name>PortController</name>
    <message>
        <source>关闭串口</source>
        <translation>Close port</translation>
    </message>
    <message>
        <source>打开串口</source>
        <translation>Open port</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>无法打开串口： </source>
        <translation>Cannot open serial port: </translation>
    </message>
    <message>
        <source>
指定的串口不存在或者被占用。</source>
        <translation>
The port does not exist or is in use.</translation>
    </message>
    <message>
        <source>%1 串口已断开：%2
</source>
        <translation>%1 Port lost: %2
</translation>
    </message>
    <message>
        <source>设备已移除</source>
        <translation>the device was removed</translation>
    </message>
    <message>
        <source>%1 串口已重新连接：%2（%3）
</source>
        <translation>%1 Port reconnected: %2 (%3)
</translation>
    </message>
    <message>
        <source>正在查找模块…</source>
        <translation>Finding the module…</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>查找模块</source>
        <translation>Find module</translation>
    </message>
    <message>
        <source>正在查找模块：%1，%2</source>
        <translation>Finding the module: %1, %2</translation>
    </message>
    <message>
        <source>查找模块已取消。
</source>
        <translation>Finding the module was cancelled.
</translation>
    </message>
    <message>
        <source>%1 正被其他程序使用，未查找。
</source>
        <translation>%1 is in use by another program; not searched.
</translation>
    </message>
    <message>
        <source>未找到模块（%1）。
</source>
        <translation>No module found (%1).
</translation>
    </message>
    <message>
        <source>没有串口</source>
        <translation>no serial ports</translation>
    </message>
    <message>
        <source>，</source>
        <translation>, </translation>
    </message>
    <message>
        <source>找到模块：%1，%2，程序版本：%3，发布日期：%4
</source>
        <translation>Module found: %1, %2, firmware version: %3, release date: %4
</translation>
    </message>
    <message>
        <source>模块串口参数已改为 %1
</source>
        <translation>The module&apos;s serial settings are now %1
</translation>
    </message>
    <message>
        <source>模块串口参数已改变</source>
        <translation>Module serial settings changed</translation>
    </message>
    <message>
        <source>模块现在使用 %1，串口仍是 %2。
现在把串口切换到 %1 吗？</source>
        <translation>The module now uses %1; the port still runs %2.
Switch the port to %1 now?</translation>
    </message>
</context>
<context>
    <name>ReceiveTick</name>
    <message>
        <source>迟到的应答：%1（%2 ms）
</source>
        <translation>Late reply: %1 (%2 ms)
</translation>
    </message>
    <message>
        <source>无应答：</source>
        <translation>No reply: </translation>
    </message>
</context>
<context>
    <name>ReplyText</name>
    <message>
        <source>SUCCESS!
</source>
        <translation>SUCCESS!
</translation>
    </message>
    <message>
        <source>FAILUER!
</source>
        <translation>FAILURE!
</translation>
    </message>
    <message>
        <source>找节点</source>
        <translation>Route to node </translation>
    </message>
    <message>
        <source>的路由</source>
        <translation>: </translation>
    </message>
    <message>
        <source>FAILUER! 错误码为：</source>
        <translation>FAILURE! Error code: </translation>
    </message>
    <message>
        <source>SUCCESS! 中继数：</source>
        <translation>SUCCESS! Relays: </translation>
    </message>
    <message>
        <source>中继节点：</source>
        <translation>Relay nodes: </translation>
    </message>
    <message>
        <source>模块程序版本：</source>
        <translation>Firmware version: </translation>
    </message>
    <message>
        <source>发布日期：</source>
        <translation>Release date: </translation>
    </message>
    <message>
        <source>配置结果：</source>
        <translation>Configuration result: </translation>
    </message>
    <message>
        <source>读参数成功！
</source>
        <translation>Parameters read successfully!
</translation>
    </message>
    <message>
        <source>模块复位：</source>
        <translation>Module reset: </translation>
    </message>
    <message>
        <source>读白名单表成功！
</source>
        <translation>Whitelist read successfully!
</translation>
    </message>
    <message>
        <source>向节点</source>
        <translation>Send data to node </translation>
    </message>
    <message>
        <source>发送数据</source>
        <translation>: </translation>
    </message>
    <message>
        <source>校验错误
</source>
        <translation>Checksum error
</translation>
    </message>
</context>
<context>
    <name>SerialText</name>
    <message>
        <source>原因：未选择串口。</source>
        <translation>Reason: no port chosen.</translation>
    </message>
    <message>
        <source>未知错误</source>
        <translation>unknown error</translation>
    </message>
    <message>
        <source>原因：设备不存在（%1）。</source>
        <translation>Reason: the device does not exist (%1).</translation>
    </message>
    <message>
        <source>原因：没有访问该设备的权限（%1）。请把当前用户加入 %2 组（sudo usermod -aG %2 $USER），然后重新登录。</source>
        <translation>Reason: no permission to access the device (%1). Add your user to the %2 group (sudo usermod -aG %2 $USER), then log in again.</translation>
    </message>
    <message>
        <source>原因：没有访问该设备的权限（%1）。</source>
        <translation>Reason: no permission to access the device (%1).</translation>
    </message>
    <message>
        <source>原因：设备正被其他程序使用（%1）。</source>
        <translation>Reason: the device is in use by another program (%1).</translation>
    </message>
    <message>
        <source>原因：%1</source>
        <translation>Reason: %1</translation>
    </message>
    <message>
        <source>描述：%1</source>
        <translation>Description: %1</translation>
    </message>
    <message>
        <source>制造商：%1</source>
        <translation>Manufacturer: %1</translation>
    </message>
    <message>
        <source>序列号：%1</source>
        <translation>Serial number: %1</translation>
    </message>
    <message>
        <source>USB 厂商:产品：%1:%2</source>
        <translation>USB vendor:product: %1:%2</translation>
    </message>
</context>
</TS>
