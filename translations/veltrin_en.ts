<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>CMSComm</name>
    <message>
        <source>%1 %2 无效。</source>
        <translation>Invalid %1 %2.</translation>
    </message>
    <message>
        <source>端口已打开：请先关闭 COM%1，再选择其他端口。</source>
        <translation>Port already open: close COM%1 before choosing another port.</translation>
    </message>
    <message>
        <source>端口号 %1 无效。</source>
        <translation>Invalid port number %1.</translation>
    </message>
    <message>
        <source>输入缓冲区大小</source>
        <translation>input buffer size</translation>
    </message>
    <message>
        <source>输出缓冲区大小</source>
        <translation>output buffer size</translation>
    </message>
    <message>
        <source>输入模式 %1 无效（0 为文本，1 为二进制）。</source>
        <translation>Invalid input mode %1 (0 text, 1 binary).</translation>
    </message>
    <message>
        <source>设置“%1”无效：应为“波特率,校验,数据位,停止位”，如“256000,n,8,1”（校验为 n、e、o、m 或 s；数据位 5 至 8；停止位 1、1.5 或 2）。</source>
        <translation>Invalid settings &quot;%1&quot;: expected baud,parity,data,stop such as &quot;256000,n,8,1&quot; (parity n, e, o, m or s; data bits 5 to 8; stop bits 1, 1.5 or 2).</translation>
    </message>
    <message>
        <source>无法将设置“%1”应用于端口 COM%2（%3）：%4</source>
        <translation>Cannot apply settings &quot;%1&quot; to port COM%2 (%3): %4</translation>
    </message>
    <message>
        <source>接收阈值</source>
        <translation>receive threshold</translation>
    </message>
    <message>
        <source>发送阈值</source>
        <translation>send threshold</translation>
    </message>
    <message>
        <source>输入长度</source>
        <translation>input length</translation>
    </message>
    <message>
        <source>设置“%1”无效。</source>
        <translation>Invalid settings &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>无法打开端口 COM%1（%2）：%3</source>
        <translation>Cannot open port COM%1 (%2): %3</translation>
    </message>
    <message>
        <source>端口未打开：无法在 COM%1 上发送。</source>
        <translation>Port not open: cannot send on COM%1.</translation>
    </message>
    <message>
        <source>无法在端口 COM%1（%2）上发送：%3</source>
        <translation>Cannot send on port COM%1 (%2): %3</translation>
    </message>
    <message>
        <source>设备已挂断或被拔出</source>
        <translation>the device hung up or was removed</translation>
    </message>
    <message>
        <source>端口 COM%1（%2）的设备已丢失：%3</source>
        <translation>The device of port COM%1 (%2) was lost: %3</translation>
    </message>
    <message>
        <source>设备在 %1 毫秒内未接收任何数据</source>
        <translation>the device took no data for %1 ms</translation>
    </message>
</context>
<context>
    <name>CPortSettingsDlg</name>
    <message>
        <source>端口设置</source>
        <translation>Port Settings</translation>
    </message>
    <message>
        <source>系统检测到的串口：</source>
        <translation>Serial ports the system reports:</translation>
    </message>
    <message>
        <source>设备</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>描述</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>制造商</source>
        <translation>Manufacturer</translation>
    </message>
    <message>
        <source>序列号</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>USB 厂商:产品</source>
        <translation>USB vendor:product</translation>
    </message>
    <message>
        <source>重新检测</source>
        <translation>Detect again</translation>
    </message>
    <message>
        <source>端口列表中各项打开的设备（命令行 --com 优先于此处的设置）：</source>
        <translation>The device each entry of the port list opens (--com on the command line takes precedence):</translation>
    </message>
    <message>
        <source>在 Windows 上，COM1 到 COM16 就是系统的串口名称，无需设置。</source>
        <translation>On Windows, COM1 to COM16 are the system&apos;s own port names; there is nothing to set.</translation>
    </message>
    <message>
        <source>全部恢复默认</source>
        <translation>Restore All Defaults</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>（未检测到串口）</source>
        <translation>(no serial port detected)</translation>
    </message>
    <message>
        <source>默认：%1</source>
        <translation>Default: %1</translation>
    </message>
    <message>
        <source>本次运行由命令行 --com 指定为 %1；这里的设置在不带该选项启动时生效。</source>
        <translation>Set to %1 by --com for this run; the setting here applies when the console starts without it.</translation>
    </message>
    <message>
        <source>无法保存端口设置：%1 不可写。</source>
        <translation>Cannot save the port settings: %1 cannot be written.</translation>
    </message>
    <message>
        <source>COM%1 打开 %2（命令行 --com 指定）</source>
        <translation>COM%1 opens %2 (given by --com)</translation>
    </message>
    <message>
        <source>COM%1 打开 %2（端口设置中指定）</source>
        <translation>COM%1 opens %2 (set in Port Settings)</translation>
    </message>
    <message>
        <source>COM%1 打开 %2（唯一的 USB 串口适配器）</source>
        <translation>COM%1 opens %2 (the only USB serial adapter)</translation>
    </message>
    <message>
        <source>COM%1 打开 %2</source>
        <translation>COM%1 opens %2</translation>
    </message>
    <message>
        <source>默认：%1 或 USB 适配器 %2</source>
        <translation>Default: %1 or the USB adapter %2</translation>
    </message>
    <message>
        <source>端口设置中未指定任何端口时，COM1 默认打开唯一的 USB 串口适配器 %1。</source>
        <translation>While no entry is set in Port Settings, COM1 opens the only USB serial adapter, %1.</translation>
    </message>
</context>
<context>
    <name>CPulseWindow</name>
    <message>
        <source>脉图分析</source>
        <translation>Pulse Diagram</translation>
    </message>
    <message>
        <source>通道%1</source>
        <translation>Channel %1</translation>
    </message>
    <message>
        <source>平均脉搏波（最近10秒）</source>
        <translation>Averaged beat (last 10 s)</translation>
    </message>
    <message>
        <source>压力-脉幅曲线</source>
        <translation>Pressure-amplitude curve</translation>
    </message>
    <message>
        <source>重新测量</source>
        <translation>Measure Again</translation>
    </message>
    <message>
        <source>复制</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>保存图像...</source>
        <translation>Save Image...</translation>
    </message>
    <message>
        <source>—</source>
        <translation>—</translation>
    </message>
    <message>
        <source>浮</source>
        <translation>floating</translation>
    </message>
    <message>
        <source>中</source>
        <translation>middle</translation>
    </message>
    <message>
        <source>沉</source>
        <translation>deep</translation>
    </message>
    <message>
        <source>（峰在扫描低端）</source>
        <translation> (peak at the light end of the sweep)</translation>
    </message>
    <message>
        <source>（峰在扫描高端）</source>
        <translation> (peak at the heavy end of the sweep)</translation>
    </message>
    <message>
        <source>h1 主波幅度</source>
        <translation>h1 main wave</translation>
    </message>
    <message>
        <source>h3/h1 重搏前波</source>
        <translation>h3/h1 tidal wave</translation>
    </message>
    <message>
        <source>h4/h1 降中峡</source>
        <translation>h4/h1 dicrotic notch</translation>
    </message>
    <message>
        <source>h5/h1 重搏波</source>
        <translation>h5/h1 dicrotic wave</translation>
    </message>
    <message>
        <source>t1 主波时间（毫秒）</source>
        <translation>t1 to main peak (ms)</translation>
    </message>
    <message>
        <source>t3 重搏前波时间（毫秒）</source>
        <translation>t3 to tidal wave (ms)</translation>
    </message>
    <message>
        <source>t4 收缩期（毫秒）</source>
        <translation>t4 systole (ms)</translation>
    </message>
    <message>
        <source>t5 舒张期（毫秒）</source>
        <translation>t5 diastole (ms)</translation>
    </message>
    <message>
        <source>t 脉动周期（毫秒）</source>
        <translation>t period (ms)</translation>
    </message>
    <message>
        <source>w 主波上1/3宽度（毫秒）</source>
        <translation>w main wave&apos;s upper third (ms)</translation>
    </message>
    <message>
        <source>w/t</source>
        <translation>w/t</translation>
    </message>
    <message>
        <source>t1/t</source>
        <translation>t1/t</translation>
    </message>
    <message>
        <source>t4/t5</source>
        <translation>t4/t5</translation>
    </message>
    <message>
        <source>As 收缩期面积</source>
        <translation>As systolic area</translation>
    </message>
    <message>
        <source>Ad 舒张期面积</source>
        <translation>Ad diastolic area</translation>
    </message>
    <message>
        <source>谐波 C%1</source>
        <translation>Harmonic C%1</translation>
    </message>
    <message>
        <source>搏数（计入/有效/剔除）</source>
        <translation>Beats (used / valid / rejected)</translation>
    </message>
    <message>
        <source>最佳取法压力</source>
        <translation>Best hold-down pressure</translation>
    </message>
    <message>
        <source>浮沉系数</source>
        <translation>Depth coefficient</translation>
    </message>
    <message>
        <source>脉位</source>
        <translation>Position</translation>
    </message>
    <message>
        <source>保存图像</source>
        <translation>Save Image</translation>
    </message>
    <message>
        <source>PNG 图像 (*.png)</source>
        <translation>PNG images (*.png)</translation>
    </message>
    <message>
        <source>无法写入图像文件 %1。</source>
        <translation>Cannot write the image file %1.</translation>
    </message>
    <message>
        <source>最佳取法压力（%1）</source>
        <translation>Best hold-down pressure (%1)</translation>
    </message>
    <message>
        <source>计数</source>
        <translation>counts</translation>
    </message>
</context>
<context>
    <name>CRecordControl</name>
    <message>
        <source>%1 B</source>
        <translation>%1 B</translation>
    </message>
    <message>
        <source>%1 KB</source>
        <translation>%1 KB</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 MB</translation>
    </message>
    <message>
        <source>%1 GB</source>
        <translation>%1 GB</translation>
    </message>
    <message>
        <source>开始记录</source>
        <translation>Start Recording</translation>
    </message>
    <message>
        <source>记录文件 (*.vcap);;所有文件 (*)</source>
        <translation>Recordings (*.vcap);;All files (*)</translation>
    </message>
    <message>
        <source>停止记录</source>
        <translation>Stop Recording</translation>
    </message>
    <message>
        <source>开始记录...</source>
        <translation>Start Recording...</translation>
    </message>
    <message>
        <source>无法创建记录文件 %1：%2</source>
        <translation>Cannot create the recording file %1: %2</translation>
    </message>
    <message>
        <source>无法写入记录文件 %1：%2
记录已停止。</source>
        <translation>Cannot write the recording file %1: %2
Recording has stopped.</translation>
    </message>
    <message>
        <source>记录 等待串口打开</source>
        <translation>Recording: waiting for the port to open</translation>
    </message>
    <message>
        <source>记录 %1 · %2</source>
        <translation>Recording %1 · %2</translation>
    </message>
    <message>
        <source>记录文件 %1 在记录过程中被删除或替换，已记录的内容无法另存：%2
记录仍在继续，每秒重试一次。</source>
        <translation>The recording file %1 was deleted or replaced while recording, and what was recorded could not be saved elsewhere: %2
Recording goes on; saving is tried again every second.</translation>
    </message>
    <message>
        <source>记录文件 %1 在记录过程中被删除或替换。
已记录的内容已保存到 %2，记录继续写入该文件。</source>
        <translation>The recording file %1 was deleted or replaced while recording.
What was recorded has been saved to %2, and recording goes on in that file.</translation>
    </message>
</context>
<context>
    <name>CReplayStatus</name>
    <message>
        <source>回放 %1 · %2 / %3 · ×%4</source>
        <translation>Replay %1 · %2 / %3 · ×%4</translation>
    </message>
    <message>
        <source> · 回放结束</source>
        <translation> · replay ended</translation>
    </message>
</context>
<context>
    <name>CReportControl</name>
    <message>
        <source>生成报告...</source>
        <translation>Make Report...</translation>
    </message>
    <message>
        <source>为本次运行最近的记录生成报告？

%1</source>
        <translation>Make the report of the last recording of this run?

%1</translation>
    </message>
    <message>
        <source>使用此记录</source>
        <translation>Use This Recording</translation>
    </message>
    <message>
        <source>选择其他记录...</source>
        <translation>Choose Another Recording...</translation>
    </message>
    <message>
        <source>选择记录文件</source>
        <translation>Choose a Recording</translation>
    </message>
    <message>
        <source>记录文件 (*.vcap);;所有文件 (*)</source>
        <translation>Recordings (*.vcap);;All files (*)</translation>
    </message>
    <message>
        <source>保存报告</source>
        <translation>Save Report</translation>
    </message>
    <message>
        <source>PDF 文件 (*.pdf);;所有文件 (*)</source>
        <translation>PDF files (*.pdf);;All files (*)</translation>
    </message>
    <message>
        <source>正在生成报告...</source>
        <translation>Making the report...</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>报告已保存到 %1。
没有能打开它的查看程序，请另行打开。</source>
        <translation>The report was saved as %1.
No viewer could be started to show it; please open it yourself.</translation>
    </message>
    <message>
        <source>无法生成报告：
%1</source>
        <translation>Cannot make the report:
%1</translation>
    </message>
</context>
<context>
    <name>CReportFieldsDlg</name>
    <message>
        <source>报告信息</source>
        <translation>Report Details</translation>
    </message>
    <message>
        <source>男</source>
        <translation>male</translation>
    </message>
    <message>
        <source>女</source>
        <translation>female</translation>
    </message>
    <message>
        <source>姓名</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>年龄</source>
        <translation>Age</translation>
    </message>
    <message>
        <source>性别</source>
        <translation>Sex</translation>
    </message>
    <message>
        <source>备注</source>
        <translation>Notes</translation>
    </message>
</context>
<context>
    <name>CReviewChart</name>
    <message>
        <source>—</source>
        <translation>—</translation>
    </message>
    <message>
        <source>静压1</source>
        <translation>Pressure 1</translation>
    </message>
    <message>
        <source>静压2</source>
        <translation>Pressure 2</translation>
    </message>
    <message>
        <source>静压3</source>
        <translation>Pressure 3</translation>
    </message>
    <message>
        <source>脉搏波1</source>
        <translation>Pulse 1</translation>
    </message>
    <message>
        <source>脉搏波2</source>
        <translation>Pulse 2</translation>
    </message>
    <message>
        <source>脉搏波3</source>
        <translation>Pulse 3</translation>
    </message>
    <message>
        <source>心电</source>
        <translation>ECG</translation>
    </message>
    <message>
        <source>容积波</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>尚无数据</source>
        <translation>No data yet</translation>
    </message>
    <message>
        <source>秒</source>
        <translation>s</translation>
    </message>
    <message>
        <source>标记</source>
        <translation>Marker</translation>
    </message>
</context>
<context>
    <name>CReviewFeature</name>
    <message>
        <source>波形回顾...</source>
        <translation>Review Traces...</translation>
    </message>
    <message>
        <source>添加标记...</source>
        <translation>Add Marker...</translation>
    </message>
    <message>
        <source>单位设置...</source>
        <translation>Units...</translation>
    </message>
    <message>
        <source>无法保存单位设置：%1 不可写。</source>
        <translation>Cannot save the units: %1 cannot be written.</translation>
    </message>
</context>
<context>
    <name>CReviewWindow</name>
    <message>
        <source>波形回顾</source>
        <translation>Review Traces</translation>
    </message>
    <message>
        <source>波形回顾 · %1</source>
        <translation>Review Traces · %1</translation>
    </message>
    <message>
        <source>%1 个数据帧 · 采样率 %2 帧/秒</source>
        <translation>%1 data frames · sample rate %2 frames/s</translation>
    </message>
    <message>
        <source> · 只显示最后 %1 秒</source>
        <translation> · showing the last %1 s only</translation>
    </message>
    <message>
        <source> · 记录不完整，读到最后一个完整的记录为止</source>
        <translation> · the capture is incomplete, read up to its last whole record</translation>
    </message>
    <message>
        <source>跟随</source>
        <translation>Follow</translation>
    </message>
    <message>
        <source>适合</source>
        <translation>Fit</translation>
    </message>
    <message>
        <source>添加标记...</source>
        <translation>Add Marker...</translation>
    </message>
    <message>
        <source>打开记录...</source>
        <translation>Open Capture...</translation>
    </message>
    <message>
        <source>光标 A</source>
        <translation>Cursor A</translation>
    </message>
    <message>
        <source>光标 B</source>
        <translation>Cursor B</translation>
    </message>
    <message>
        <source>采样率 %1 帧/秒</source>
        <translation>Sample rate %1 frames/s</translation>
    </message>
    <message>
        <source>采样率未测得，暂按 %1 帧/秒</source>
        <translation>Sample rate not measured yet, %1 frames/s assumed</translation>
    </message>
    <message>
        <source>%1 秒</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>A %1</source>
        <translation>A %1</translation>
    </message>
    <message>
        <source>B %1</source>
        <translation>B %1</translation>
    </message>
    <message>
        <source>Δt %1 秒</source>
        <translation>Δt %1 s</translation>
    </message>
    <message>
        <source>%1 次/分</source>
        <translation>%1 /min</translation>
    </message>
    <message>
        <source>单击放光标 A，右击或 Shift+单击放光标 B；空格键冻结或跟随，M 键加标记</source>
        <translation>Click: cursor A; right-click or Shift+click: cursor B; Space: freeze or follow; M: marker</translation>
    </message>
    <message>
        <source>单击放光标 A，右击或 Shift+单击放光标 B</source>
        <translation>Click: cursor A; right-click or Shift+click: cursor B</translation>
    </message>
    <message>
        <source>添加标记</source>
        <translation>Add Marker</translation>
    </message>
    <message>
        <source>标记的说明（可以不填）：</source>
        <translation>Marker text (optional):</translation>
    </message>
    <message>
        <source>打开记录</source>
        <translation>Open Capture</translation>
    </message>
    <message>
        <source>记录文件 (*.vcap);;所有文件 (*)</source>
        <translation>Recordings (*.vcap);;All files (*)</translation>
    </message>
    <message>
        <source>无法打开记录：%1</source>
        <translation>Cannot open the capture: %1</translation>
    </message>
</context>
<context>
    <name>CSensorDlg</name>
    <message>
        <source>端口设置...</source>
        <translation>Port Settings...</translation>
    </message>
    <message>
        <source>正在记录。停止记录并退出吗？</source>
        <translation>A recording is running. Stop recording and quit?</translation>
    </message>
</context>
<context>
    <name>CSessionReport</name>
    <message>
        <source>脉象检测报告</source>
        <translation>Pulse Examination Report</translation>
    </message>
    <message>
        <source>短时心率变异性的标准记录长度为 5 分钟。SDNN、RMSSD、pNN50 需要至少 60 秒的正常心搏间期（NN），LF、HF 与 LF/HF 需要至少 120 秒不间断的 NN 间期，不足时显示“—”。本记录的 NN 间期共 %1 秒。</source>
        <translation>Five minutes is the standard length of a short-term heart-rate variability recording. SDNN, RMSSD and pNN50 need at least 60 s of normal-to-normal (NN) intervals, LF, HF and LF/HF at least 120 s of unbroken NN intervals; with less they show &quot;—&quot;. This recording holds %1 s of NN intervals.</translation>
    </message>
    <message>
        <source>由 %1 于 %2 根据记录 %3 生成</source>
        <translation>Made by %1 on %2 from the recording %3</translation>
    </message>
    <message>
        <source>受检者</source>
        <translation>Subject</translation>
    </message>
    <message>
        <source>姓名</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>年龄</source>
        <translation>Age</translation>
    </message>
    <message>
        <source>性别</source>
        <translation>Sex</translation>
    </message>
    <message>
        <source>备注</source>
        <translation>Notes</translation>
    </message>
    <message>
        <source>记录</source>
        <translation>Recording</translation>
    </message>
    <message>
        <source>开始时间</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>时长</source>
        <translation>Duration</translation>
    </message>
    <message>
        <source>端口</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>设备信息</source>
        <translation>Device information</translation>
    </message>
    <message>
        <source>记录程序</source>
        <translation>Recorded by</translation>
    </message>
    <message>
        <source>报告程序</source>
        <translation>Report by</translation>
    </message>
    <message>
        <source>摘要</source>
        <translation>Summary</translation>
    </message>
    <message>
        <source>心率（次/分）</source>
        <translation>Heart rate (/min)</translation>
    </message>
    <message>
        <source>脉率（次/分）</source>
        <translation>Pulse rate (/min)</translation>
    </message>
    <message>
        <source>脉搏传导时间（毫秒）</source>
        <translation>Pulse transit time (ms)</translation>
    </message>
    <message>
        <source>最佳取脉压力</source>
        <translation>Best hold-down pressure</translation>
    </message>
    <message>
        <source>脉位</source>
        <translation>Position</translation>
    </message>
    <message>
        <source>浮</source>
        <translation>floating</translation>
    </message>
    <message>
        <source>中</source>
        <translation>middle</translation>
    </message>
    <message>
        <source>沉</source>
        <translation>deep</translation>
    </message>
    <message>
        <source>t1（毫秒）</source>
        <translation>t1 (ms)</translation>
    </message>
    <message>
        <source>t4（毫秒）</source>
        <translation>t4 (ms)</translation>
    </message>
    <message>
        <source>t5（毫秒）</source>
        <translation>t5 (ms)</translation>
    </message>
    <message>
        <source>通道 1</source>
        <translation>Channel 1</translation>
    </message>
    <message>
        <source>通道 2</source>
        <translation>Channel 2</translation>
    </message>
    <message>
        <source>通道 3</source>
        <translation>Channel 3</translation>
    </message>
    <message>
        <source>心率变异性</source>
        <translation>Heart-rate variability</translation>
    </message>
    <message>
        <source>NN 间期数</source>
        <translation>NN intervals</translation>
    </message>
    <message>
        <source>SDNN（毫秒）</source>
        <translation>SDNN (ms)</translation>
    </message>
    <message>
        <source>RMSSD（毫秒）</source>
        <translation>RMSSD (ms)</translation>
    </message>
    <message>
        <source>pNN50（%）</source>
        <translation>pNN50 (%)</translation>
    </message>
    <message>
        <source>LF（毫秒²）</source>
        <translation>LF (ms²)</translation>
    </message>
    <message>
        <source>HF（毫秒²）</source>
        <translation>HF (ms²)</translation>
    </message>
    <message>
        <source>LF/HF</source>
        <translation>LF/HF</translation>
    </message>
    <message>
        <source>链路质量</source>
        <translation>Link quality</translation>
    </message>
    <message>
        <source>数据帧</source>
        <translation>Data frames</translation>
    </message>
    <message>
        <source>帧率（帧/秒）</source>
        <translation>Frame rate (/s)</translation>
    </message>
    <message>
        <source>校验错误</source>
        <translation>Bad checks</translation>
    </message>
    <message>
        <source>跳过的字节</source>
        <translation>Bytes passed over</translation>
    </message>
    <message>
        <source>数据中断</source>
        <translation>Gaps</translation>
    </message>
    <message>
        <source>脉图</source>
        <translation>Pulse diagrams</translation>
    </message>
    <message>
        <source>心率趋势</source>
        <translation>Heart rate over the session</translation>
    </message>
    <message>
        <source>10 秒波形</source>
        <translation>10-second strip</translation>
    </message>
    <message>
        <source>（自记录第 %1 起，最平稳的一段）</source>
        <translation>(from %1 into the recording, its steadiest stretch)</translation>
    </message>
    <message>
        <source>（自记录第 %1 起；没有无误的 10 秒，取最好的一段）</source>
        <translation>(from %1 into the recording; no 10 s were free of faults, this is the best stretch)</translation>
    </message>
    <message>
        <source>脉搏波 1</source>
        <translation>Pulse 1</translation>
    </message>
    <message>
        <source>脉搏波 2</source>
        <translation>Pulse 2</translation>
    </message>
    <message>
        <source>脉搏波 3</source>
        <translation>Pulse 3</translation>
    </message>
    <message>
        <source>心电</source>
        <translation>ECG</translation>
    </message>
    <message>
        <source>容积波</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>%1 秒</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>第 %1 页，共 %2 页</source>
        <translation>Page %1 of %2</translation>
    </message>
    <message>
        <source>心率（次/分）：浅色逐搏，深色为每 10 秒的中位数；横轴为分钟</source>
        <translation>Heart rate (/min): light beat by beat, dark the median of every 10 s; minutes across</translation>
    </message>
    <message>
        <source>最佳取脉压力（%1）</source>
        <translation>Best hold-down pressure (%1)</translation>
    </message>
    <message>
        <source>平均脉搏波 · 通道 %1（毫秒，计数）</source>
        <translation>Averaged beat · channel %1 (ms, counts)</translation>
    </message>
    <message>
        <source>压力-幅度曲线 · 通道 %1（%2，计数）</source>
        <translation>Pressure–amplitude · channel %1 (%2, counts)</translation>
    </message>
    <message>
        <source>计数</source>
        <translation>counts</translation>
    </message>
    <message>
        <source>（峰在扫描低端）</source>
        <translation> (low end)</translation>
    </message>
    <message>
        <source>（峰在扫描高端）</source>
        <translation> (high end)</translation>
    </message>
</context>
<context>
    <name>CSignalLinkFeature</name>
    <message>
        <source>信号与链路...</source>
        <translation>Signal and Link...</translation>
    </message>
    <message>
        <source>脉图分析...</source>
        <translation>Pulse Diagram...</translation>
    </message>
</context>
<context>
    <name>CSignalLinkWindow</name>
    <message>
        <source>信号与链路</source>
        <translation>Signal and Link</translation>
    </message>
    <message>
        <source>链路</source>
        <translation>Link</translation>
    </message>
    <message>
        <source>信号</source>
        <translation>Signal</translation>
    </message>
    <message>
        <source>心率</source>
        <translation>Heart rate</translation>
    </message>
    <message>
        <source>脉率（通道1）</source>
        <translation>Pulse rate (channel 1)</translation>
    </message>
    <message>
        <source>脉率（通道2）</source>
        <translation>Pulse rate (channel 2)</translation>
    </message>
    <message>
        <source>脉率（通道3）</source>
        <translation>Pulse rate (channel 3)</translation>
    </message>
    <message>
        <source>脉搏传导时间（通道1）</source>
        <translation>Pulse transit time (channel 1)</translation>
    </message>
    <message>
        <source>脉搏传导时间（通道2）</source>
        <translation>Pulse transit time (channel 2)</translation>
    </message>
    <message>
        <source>脉搏传导时间（通道3）</source>
        <translation>Pulse transit time (channel 3)</translation>
    </message>
    <message>
        <source>—</source>
        <translation>—</translation>
    </message>
    <message>
        <source>串口</source>
        <translation>Serial port</translation>
    </message>
    <message>
        <source>已打开</source>
        <translation>open</translation>
    </message>
    <message>
        <source>已关闭</source>
        <translation>closed</translation>
    </message>
    <message>
        <source>数据帧速率（最近1秒）</source>
        <translation>Data frames (last second)</translation>
    </message>
    <message>
        <source>%1 帧/秒</source>
        <translation>%1 frames/s</translation>
    </message>
    <message>
        <source>数据帧</source>
        <translation>Data frames</translation>
    </message>
    <message>
        <source>校验错误帧</source>
        <translation>Frames failing their check</translation>
    </message>
    <message>
        <source>重新同步跳过字节</source>
        <translation>Bytes skipped resynchronising</translation>
    </message>
    <message>
        <source>缓冲区溢出丢弃字节</source>
        <translation>Bytes dropped on buffer overflow</translation>
    </message>
    <message>
        <source>已发送命令</source>
        <translation>Commands sent</translation>
    </message>
    <message>
        <source>重发命令</source>
        <translation>Commands re-sent</translation>
    </message>
    <message>
        <source>三次未应答命令</source>
        <translation>Commands unanswered after three tries</translation>
    </message>
    <message>
        <source>距上一数据帧</source>
        <translation>Since the last data frame</translation>
    </message>
    <message>
        <source>%1 秒</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>%1 次/分</source>
        <translation>%1 /min</translation>
    </message>
    <message>
        <source>%1 毫秒</source>
        <translation>%1 ms</translation>
    </message>
    <message>
        <source>数据帧速率（开始观测以来）</source>
        <translation>Data frame rate (since observing began)</translation>
    </message>
</context>
<context>
    <name>CUnitsDlg</name>
    <message>
        <source>单位设置</source>
        <translation>Units</translation>
    </message>
    <message>
        <source>静压通道的读数（传感器计数）按“每单位计数”换算为所选单位，用于波形回顾和导出。主窗口的大读数仍显示计数。</source>
        <translation>The static-pressure readings (sensor counts) are converted into the chosen unit by the counts per unit, for the review window and the exports. The large readouts of the main window still show counts.</translation>
    </message>
    <message>
        <source>单位</source>
        <translation>Unit</translation>
    </message>
    <message>
        <source>每单位计数</source>
        <translation>Counts per unit</translation>
    </message>
    <message>
        <source>静压%1</source>
        <translation>Pressure %1</translation>
    </message>
    <message>
        <source>恢复默认</source>
        <translation>Restore Defaults</translation>
    </message>
    <message>
        <source>静压%1 的单位须为 1 到 8 个字母、数字或 % / . _ - ^ ( ) *。</source>
        <translation>The unit of pressure %1 must be 1 to 8 letters, digits or % / . _ - ^ ( ) *.</translation>
    </message>
    <message>
        <source>静压%1 的每单位计数须为 0.001 到 1000000 之间的数。</source>
        <translation>The counts per unit of pressure %1 must be a number from 0.001 to 1000000.</translation>
    </message>
    <message>
        <source>导出时同样换算：sensor-decode --units %1</source>
        <translation>The exports convert the same way with: sensor-decode --units %1</translation>
    </message>
</context>
<context>
    <name>PortDiagnostics</name>
    <message>
        <source>找不到设备 %1。请检查传感器的适配器是否已插好；“端口设置...”列出系统检测到的串口，可为 COM1 到 COM16 指定其中之一。</source>
        <translation>Cannot find the device %1. Check that the sensor&apos;s adapter is plugged in; &quot;Port Settings...&quot; lists the serial ports the system detects and assigns one of them to any of COM1 to COM16.</translation>
    </message>
    <message>
        <source>若 USB 串口适配器插入后随即消失，多半是 brltty（盲文显示器服务，Ubuntu 默认安装）占用了它：请执行 sudo apt remove brltty，然后重新插入适配器。</source>
        <translation>If a USB serial adapter disappears right after it is plugged in, brltty (the braille display service Ubuntu installs by default) has most likely claimed it: run sudo apt remove brltty, then plug the adapter in again.</translation>
    </message>
    <message>
        <source>您已是用户组 %1 的成员，但当前登录会话开始于加入之前：请注销并重新登录后再试。</source>
        <translation>You are a member of group %1, but this login session started before you joined it: log out and in again, then try again.</translation>
    </message>
    <message>
        <source>当前用户无权读写 %1，该设备属于用户组 %2。请执行：
sudo usermod -aG %2 $USER
然后注销并重新登录。</source>
        <translation>You may not read and write %1; the device belongs to group %2. Run:
sudo usermod -aG %2 $USER
then log out and in again.</translation>
    </message>
    <message>
        <source>当前用户无权读写 %1（所有者 %2，用户组 %3，权限 %4）。请让管理员开放该设备的读写权限，例如用 udev 规则。</source>
        <translation>You may not read and write %1 (owner %2, group %3, mode %4). Ask an administrator to grant access to the device, for example with a udev rule.</translation>
    </message>
    <message>
        <source>%1 正被另一个程序占用。请先关闭使用它的程序，再打开端口。</source>
        <translation>%1 is in use by another program. Close the program that uses it, then open the port.</translation>
    </message>
    <message>
        <source>%1（进程 %2）</source>
        <translation>%1 (process %2)</translation>
    </message>
    <message>
        <source>%1 正被另一个程序占用：%2。请先关闭该程序，再打开端口。</source>
        <translation>%1 is in use by another program: %2. Close that program, then open the port.</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
</context>
</TS>
