<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>BurstModeSettings</name>
    <message>
        <source>Time Lapse Settings</source>
        <translation>延时拍摄设置</translation>
    </message>
    <message>
        <source>Number</source>
        <translation>张数</translation>
    </message>
    <message>
        <source>Interval</source>
        <translation>间隔</translation>
    </message>
    <message>
        <source>Seconeds</source>
        <translation>秒</translation>
    </message>
</context>
<context>
    <name>CalibrationWidget</name>
    <message>
        <source>Calibrate</source>
        <translation>标定</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>名称</translation>
    </message>
    <message>
        <source>Length</source>
        <translation>长度</translation>
    </message>
    <message>
        <source>Unit</source>
        <translation>单位</translation>
    </message>
    <message>
        <source>Real Pixel：</source>
        <translation>实际像素：</translation>
    </message>
    <message>
        <source>Real Ruler：</source>
        <translation>实际标尺：</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Calibration parameters cannot be empty</source>
        <translation>标定参数不能为空</translation>
    </message>
    <message>
        <source>The calibration shape has no length, please draw it again</source>
        <translation>标定图形没有长度，请重新绘制</translation>
    </message>
    <message>
        <source>Calibration exist</source>
        <translation>标定已存在</translation>
    </message>
</context>
<context>
    <name>CamSettings</name>
    <message>
        <source>General Settings</source>
        <translation>常规设置</translation>
    </message>
    <message>
        <source>Advanced Settings</source>
        <translation>高级设置</translation>
    </message>
    <message>
        <source>Camera</source>
        <translation>相机</translation>
    </message>
    <message>
        <source>Live</source>
        <translation>预览</translation>
    </message>
    <message>
        <source>Snap</source>
        <translation>拍照</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>格式</translation>
    </message>
    <message>
        <source>FPS</source>
        <translation>帧率</translation>
    </message>
    <message>
        <source>Value</source>
        <translation>数值</translation>
    </message>
    <message>
        <source>Center</source>
        <translation>居中</translation>
    </message>
    <message>
        <source>+</source>
        <translation>+</translation>
    </message>
    <message>
        <source>-</source>
        <translation>-</translation>
    </message>
    <message>
        <source>Horizontal</source>
        <translation>水平</translation>
    </message>
    <message>
        <source>Vertical</source>
        <translation>垂直</translation>
    </message>
    <message>
        <source>Region</source>
        <translation>区域</translation>
    </message>
    <message>
        <source>Focus Frame</source>
        <translation>对焦框</translation>
    </message>
    <message>
        <source>Click Focus</source>
        <translation>点击对焦</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>自动</translation>
    </message>
    <message>
        <source>Manual</source>
        <translation>手动</translation>
    </message>
    <message>
        <source>Once</source>
        <translation>单次</translation>
    </message>
    <message>
        <source>Focus</source>
        <translation>对焦</translation>
    </message>
    <message>
        <source>Exposure</source>
        <translation>曝光</translation>
    </message>
    <message>
        <source>Brightness</source>
        <translation>亮度</translation>
    </message>
    <message>
        <source>Shutter</source>
        <translation>快门</translation>
    </message>
    <message>
        <source>Gain</source>
        <translation>增益</translation>
    </message>
    <message>
        <source>Once WhiteBalance</source>
        <translation>一键白平衡</translation>
    </message>
    <message>
        <source>Configuration</source>
        <translation>配置</translation>
    </message>
    <message>
        <source>All Reset</source>
        <translation>全部重置</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>WhiteBalance</source>
        <translation>白平衡</translation>
    </message>
    <message>
        <source>Red</source>
        <translation>红</translation>
    </message>
    <message>
        <source>Green</source>
        <translation>绿</translation>
    </message>
    <message>
        <source>Blue</source>
        <translation>蓝</translation>
    </message>
    <message>
        <source>Function</source>
        <translation>功能</translation>
    </message>
    <message>
        <source>Hue</source>
        <translation>色调</translation>
    </message>
    <message>
        <source>Saturation</source>
        <translation>饱和度</translation>
    </message>
    <message>
        <source>Contrast</source>
        <translation>对比度</translation>
    </message>
    <message>
        <source>Sharpness</source>
        <translation>锐度</translation>
    </message>
    <message>
        <source>Zoom</source>
        <translation>变焦</translation>
    </message>
    <message>
        <source>Digital Zoom</source>
        <translation>数字变焦</translation>
    </message>
    <message>
        <source>Gamma</source>
        <translation>伽马</translation>
    </message>
    <message>
        <source>Anti-reflective</source>
        <translation>防反光</translation>
    </message>
    <message>
        <source>Color Mode</source>
        <translation>色彩模式</translation>
    </message>
    <message>
        <source>RGB</source>
        <translation>彩色</translation>
    </message>
    <message>
        <source>Monochrome</source>
        <translation>黑白</translation>
    </message>
    <message>
        <source>Power Line Frequency</source>
        <translation>电源频率</translation>
    </message>
    <message>
        <source>50Hz</source>
        <translation>50Hz</translation>
    </message>
    <message>
        <source>60Hz</source>
        <translation>60Hz</translation>
    </message>
    <message>
        <source>Flip</source>
        <translation>翻转</translation>
    </message>
    <message>
        <source>Defog</source>
        <translation>除雾</translation>
    </message>
    <message>
        <source>Active</source>
        <translation>开启</translation>
    </message>
    <message>
        <source>Upgrade</source>
        <translation>升级</translation>
    </message>
    <message>
        <source>Notice</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>The number of cameras is greater than 1</source>
        <translation>相机数量大于 1，一次只能打开一台相机</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
</context>
<context>
    <name>CameraDatabase</name>
    <message>
        <source>it holds values that are not numbers</source>
        <translation>其中含有不是数字的值</translation>
    </message>
    <message>
        <source>the file could not be written</source>
        <translation>无法写入该文件</translation>
    </message>
</context>
<context>
    <name>CameraTypes</name>
    <message>
        <source>Default</source>
        <translation>默认</translation>
    </message>
    <message>
        <source>Metallography</source>
        <translation>金相</translation>
    </message>
    <message>
        <source>Failed to open camera!</source>
        <translation>打开相机失败！</translation>
    </message>
    <message>
        <source>Camera does not support current system, please use windows 10 and above systems!</source>
        <translation>相机不支持当前系统，请使用 Windows 10 及以上系统！</translation>
    </message>
    <message>
        <source>Unsupported camera model, open failed!</source>
        <translation>不支持的相机型号，打开失败！</translation>
    </message>
    <message>
        <source>Camera disconnected connection!</source>
        <translation>相机已断开连接！</translation>
    </message>
    <message>
        <source>The camera is successfully closed!</source>
        <translation>相机已成功关闭！</translation>
    </message>
    <message>
        <source>Info</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
</context>
<context>
    <name>CapturePage</name>
    <message>
        <source>Stitching</source>
        <translation>拼接</translation>
    </message>
    <message>
        <source>Speed</source>
        <translation>速度</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>开始</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>EDF</source>
        <translation>景深合成</translation>
    </message>
    <message>
        <source>Start Position</source>
        <translation>起始位置</translation>
    </message>
    <message>
        <source>End Position</source>
        <translation>结束位置</translation>
    </message>
    <message>
        <source>Capture Interval</source>
        <translation>采集间隔</translation>
    </message>
    <message>
        <source>Wait Interval(ms)</source>
        <translation>等待间隔(ms)</translation>
    </message>
    <message>
        <source>Capture Num</source>
        <translation>采集数量</translation>
    </message>
    <message>
        <source>Current Progress</source>
        <translation>当前进度</translation>
    </message>
    <message>
        <source>Reset</source>
        <translation>重置</translation>
    </message>
    <message>
        <source>End</source>
        <translation>结束</translation>
    </message>
    <message>
        <source>Compound complete</source>
        <translation>合成完成</translation>
    </message>
    <message>
        <source>The camera stopped delivering pictures. Stitching has stopped.</source>
        <translation>相机已停止传送图像。拼接已停止。</translation>
    </message>
    <message>
        <source>The camera stopped delivering pictures. The focus series has stopped.</source>
        <translation>相机已停止传送图像。景深合成已停止。</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Info</source>
        <translation>提示</translation>
    </message>
</context>
<context>
    <name>CommonToolSetDialog</name>
    <message>
        <source>Common Tool Set</source>
        <translation>常用工具设置</translation>
    </message>
</context>
<context>
    <name>DrawChangeDialog</name>
    <message>
        <source>Properties</source>
        <translation>属性</translation>
    </message>
    <message>
        <source>Width</source>
        <translation>线宽</translation>
    </message>
    <message>
        <source>Color</source>
        <translation>颜色</translation>
    </message>
    <message>
        <source>Data</source>
        <translation>数据</translation>
    </message>
    <message>
        <source>Lock</source>
        <translation>锁定</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>删除</translation>
    </message>
    <message>
        <source>delete ?</source>
        <translation>确定删除？</translation>
    </message>
</context>
<context>
    <name>FirmwareUpgrade</name>
    <message>
        <source>Upgrading, please not disconnect!</source>
        <translation>正在升级，请勿断开连接！</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Upgrade</source>
        <translation>升级</translation>
    </message>
    <message>
        <source>Invalid upgrade file name!</source>
        <translation>升级文件名无效！</translation>
    </message>
    <message>
        <source>Current camera is not support upgrade!</source>
        <translation>当前相机不支持升级！</translation>
    </message>
    <message>
        <source>There is no camera to upgrade!</source>
        <translation>没有可升级的相机！</translation>
    </message>
    <message>
        <source>Upgrade failed!</source>
        <translation>升级失败！</translation>
    </message>
    <message>
        <source>Upgrade successful!</source>
        <translation>升级成功！</translation>
    </message>
    <message>
        <source>Info</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
</context>
<context>
    <name>GraphicsText</name>
    <message>
        <source>CLen</source>
        <translation>周长</translation>
    </message>
    <message>
        <source>Len</source>
        <translation>长度</translation>
    </message>
    <message>
        <source>Wid</source>
        <translation>宽</translation>
    </message>
    <message>
        <source>Hei</source>
        <translation>高</translation>
    </message>
    <message>
        <source>Dis</source>
        <translation>距离</translation>
    </message>
    <message>
        <source>Area</source>
        <translation>面积</translation>
    </message>
    <message>
        <source>Radian</source>
        <translation>弧度</translation>
    </message>
    <message>
        <source>R</source>
        <translation>半径</translation>
    </message>
    <message>
        <source>Angle</source>
        <translation>角度</translation>
    </message>
    <message>
        <source>Collinear points</source>
        <translation>三点共线</translation>
    </message>
</context>
<context>
    <name>GridlinesSetDialog</name>
    <message>
        <source>Grid Lines Set</source>
        <translation>网格线设置</translation>
    </message>
    <message>
        <source>Color</source>
        <translation>颜色</translation>
    </message>
    <message>
        <source>Style</source>
        <translation>线型</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>线宽</translation>
    </message>
    <message>
        <source>HLine</source>
        <translation>水平线</translation>
    </message>
    <message>
        <source>VLine</source>
        <translation>垂直线</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
</context>
<context>
    <name>IpSetting</name>
    <message>
        <source>Camera&apos;s IP Settings</source>
        <translation>相机 IP 设置</translation>
    </message>
    <message>
        <source>DHCP</source>
        <translation>DHCP</translation>
    </message>
    <message>
        <source>true</source>
        <translation>是</translation>
    </message>
    <message>
        <source>false</source>
        <translation>否</translation>
    </message>
    <message>
        <source>IP address</source>
        <translation>IP 地址</translation>
    </message>
    <message>
        <source>Subnet mask</source>
        <translation>子网掩码</translation>
    </message>
    <message>
        <source>Default gateway</source>
        <translation>默认网关</translation>
    </message>
    <message>
        <source>Preferred DNS</source>
        <translation>首选 DNS</translation>
    </message>
    <message>
        <source>Alternate DNS</source>
        <translation>备用 DNS</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Notice</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Please enter a valid IPv4 address, such as 192.168.1.100.</source>
        <translation>请输入有效的 IPv4 地址，例如 192.168.1.100。</translation>
    </message>
    <message>
        <source>Please enter a valid subnet mask, such as 255.255.255.0.</source>
        <translation>请输入有效的子网掩码，例如 255.255.255.0。</translation>
    </message>
    <message>
        <source>The IP address cannot be given to a camera in this subnet.</source>
        <translation>该 IP 地址不能分配给此子网中的相机。</translation>
    </message>
    <message>
        <source>Please enter a valid default gateway, such as 192.168.1.1.</source>
        <translation>请输入有效的默认网关，例如 192.168.1.1。</translation>
    </message>
    <message>
        <source>The default gateway must be another address in the camera&apos;s subnet.</source>
        <translation>默认网关必须是相机所在子网中的另一个地址。</translation>
    </message>
    <message>
        <source>After this change the camera may no longer be reachable at its current address. Apply the new IP settings?</source>
        <translation>更改后可能无法再通过当前地址访问相机。是否应用新的 IP 设置？</translation>
    </message>
</context>
<context>
    <name>LabelWidget</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
    <message>
        <source>Marking Tool</source>
        <translation>标记工具</translation>
    </message>
    <message>
        <source>Mark Settings</source>
        <translation>标记设置</translation>
    </message>
    <message>
        <source>Rectangle Mark</source>
        <translation>矩形标记</translation>
    </message>
    <message>
        <source>Circle Mark</source>
        <translation>圆形标记</translation>
    </message>
    <message>
        <source>Text Tool</source>
        <translation>文本工具</translation>
    </message>
    <message>
        <source>Text Settings</source>
        <translation>文本设置</translation>
    </message>
    <message>
        <source>Text</source>
        <translation>文本</translation>
    </message>
    <message>
        <source>Auxiliary Tool</source>
        <translation>辅助工具</translation>
    </message>
    <message>
        <source>Cross</source>
        <translation>十字线</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>显示</translation>
    </message>
    <message>
        <source>Hide</source>
        <translation>隐藏</translation>
    </message>
    <message>
        <source>Cross Settings</source>
        <translation>十字线设置</translation>
    </message>
    <message>
        <source>Grid Lines</source>
        <translation>网格线</translation>
    </message>
    <message>
        <source>Grid Lines Settings</source>
        <translation>网格线设置</translation>
    </message>
</context>
<context>
    <name>LinePropertySetDialog</name>
    <message>
        <source>Line Property Set</source>
        <translation>线条属性设置</translation>
    </message>
    <message>
        <source>Color</source>
        <translation>颜色</translation>
    </message>
    <message>
        <source>Style</source>
        <translation>线型</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>线宽</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
</context>
<context>
    <name>MainWindow2</name>
    <message>
        <source>Its model&apos;s defaults are used instead.</source>
        <translation>已改用其型号的默认值。</translation>
    </message>
    <message>
        <source>It works with the values you last set, which are stored once the file can be written again.</source>
        <translation>该相机使用您上次设置的值，这些值会在文件可以写入后保存。</translation>
    </message>
    <message>
        <source>It works with the values you last set for %1, which are stored once the file can be written again, and with its model&apos;s defaults for the others.</source>
        <translation>该相机对 %1 使用您上次设置的值（这些值会在文件可以写入后保存），其余使用其型号的默认值。</translation>
    </message>
    <message>
        <source>The stored settings stay as they are; a change you make is stored on its own.</source>
        <translation>已存设置保持原样；您所做的更改会单独保存。</translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <translation>%1（%2）</translation>
    </message>
    <message>
        <source>Not stored yet either: %1.</source>
        <translation>以下也尚未保存：%1。</translation>
    </message>
    <message>
        <source>Device</source>
        <translation>设备</translation>
    </message>
    <message>
        <source>Acquire</source>
        <translation>采集</translation>
    </message>
    <message>
        <source>Measure</source>
        <translation>测量</translation>
    </message>
    <message>
        <source>Annotate</source>
        <translation>标注</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>Time Lapse</source>
        <translation>延时拍摄</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>录像</translation>
    </message>
    <message>
        <source>Open Picture</source>
        <translation>打开图片</translation>
    </message>
    <message>
        <source>Save Picture</source>
        <translation>保存图片</translation>
    </message>
    <message>
        <source>Minify</source>
        <translation>缩小</translation>
    </message>
    <message>
        <source>Magnify</source>
        <translation>放大</translation>
    </message>
    <message>
        <source>Hand</source>
        <translation>选择</translation>
    </message>
    <message>
        <source>Select Measuring Object</source>
        <translation>选择测量对象</translation>
    </message>
    <message>
        <source>FPS:</source>
        <translation>帧率:</translation>
    </message>
    <message>
        <source>Resolution:</source>
        <translation>分辨率:</translation>
    </message>
    <message>
        <source>Format:</source>
        <translation>格式:</translation>
    </message>
    <message>
        <source>Open Fail ?</source>
        <translation>打开失败？</translation>
    </message>
    <message>
        <source>Camera settings are not kept in this session.</source>
        <translation>本次运行不会保存相机设置。</translation>
    </message>
    <message>
        <source>The folder %1 cannot be written: settings changes are not kept.</source>
        <translation>文件夹 %1 无法写入：设置更改不会被保存。</translation>
    </message>
    <message>
        <source>%1 is not used and stays as it is: %2</source>
        <translation>%1 未被使用，保持原样：%2</translation>
    </message>
    <message>
        <source>In %1 these values are out of range, their defaults are used instead: %2.</source>
        <translation>%1 中以下值超出范围，已改用默认值：%2。</translation>
    </message>
    <message>
        <source>In %1 these calibrations have no usable length or scale and are not listed: %2.</source>
        <translation>%1 中以下标定没有可用的长度或比例，未列出：%2。</translation>
    </message>
    <message>
        <source>Do you want to exit without saving?</source>
        <translation>是否不保存直接关闭？</translation>
    </message>
    <message>
        <source>Opening the camera, please wait...</source>
        <translation>正在打开相机，请稍候...</translation>
    </message>
    <message>
        <source>Uvc Camera</source>
        <translation>USB相机</translation>
    </message>
    <message>
        <source>current no primitive</source>
        <translation>当前没有测量图元</translation>
    </message>
    <message>
        <source>The measurements could not be saved to %1: %2</source>
        <translation>测量数据无法保存到 %1：%2</translation>
    </message>
    <message>
        <source>Input data</source>
        <translation>输入内容</translation>
    </message>
    <message>
        <source>Taking a photo...</source>
        <translation>正在拍照...</translation>
    </message>
    <message>
        <source>The camera delivered no picture at %1x%2; no photo was taken.</source>
        <translation>相机未输出 %1x%2 的画面，未拍摄照片。</translation>
    </message>
    <message>
        <source>The camera has delivered no picture yet.</source>
        <translation>相机尚未输出画面。</translation>
    </message>
    <message>
        <source>The photo could not be saved to %1: %2</source>
        <translation>照片无法保存到 %1：%2</translation>
    </message>
    <message>
        <source>The file already exists, do you want to overwrite it?</source>
        <translation>文件已存在，是否覆盖？</translation>
    </message>
    <message>
        <source>The folder %1 cannot be created.</source>
        <translation>无法创建文件夹 %1。</translation>
    </message>
    <message>
        <source>The picture %1 cannot be shown: %2</source>
        <translation>无法显示图片 %1：%2</translation>
    </message>
    <message>
        <source>The picture could not be saved to %1: %2</source>
        <translation>图片无法保存到 %1：%2</translation>
    </message>
    <message>
        <source>Stop Recording</source>
        <translation>停止录像</translation>
    </message>
    <message>
        <source>%1
in %2</source>
        <translation>%1
位于 %2</translation>
    </message>
    <message>
        <source>The recording has stopped: %1
in %2</source>
        <translation>录像已停止：%1
位于 %2</translation>
    </message>
    <message>
        <source>The recording %1 is incomplete; what was recorded can still be played.</source>
        <translation>录像 %1 不完整；已录制的部分仍可播放。</translation>
    </message>
    <message>
        <source>The recording was moved while it was being recorded; it is saved as %1.</source>
        <translation>录像在录制过程中被移动；已保存为 %1。</translation>
    </message>
    <message>
        <source>Interval or number should more than zero</source>
        <translation>间隔和张数必须大于零</translation>
    </message>
    <message>
        <source>Stop continuous shooting!</source>
        <translation>已停止连续拍摄！</translation>
    </message>
    <message>
        <source>The time-lapse series has stopped after %1 of %2 photos.</source>
        <translation>延时拍摄已停止，已拍 %1 张，共 %2 张。</translation>
    </message>
    <message>
        <source>Continuous shooting done, the number of photos: %1</source>
        <translation>连续拍摄完成，照片张数：%1</translation>
    </message>
    <message>
        <source>Continuous Shooting... Countdown: %1 s, progress: %2/%3</source>
        <translation>连续拍摄中... 倒计时：%1 秒，进度：%2/%3</translation>
    </message>
    <message>
        <source>%1 is damaged or is not a camera settings database (%2).</source>
        <translation>%1 已损坏或不是相机设置数据库（%2）。</translation>
    </message>
    <message>
        <source>It could not be moved aside (%1) and stays as it is: camera settings are not kept in this session, and each camera uses its model&apos;s defaults.</source>
        <translation>无法将其移到一旁（%1），保持原样：本次运行不会保存相机设置，每台相机使用其型号的默认值。</translation>
    </message>
    <message>
        <source>It was moved to %1 and a new one was created: each camera starts with its model&apos;s defaults.</source>
        <translation>已将其移至 %1 并新建了一个：每台相机以其型号的默认值开始。</translation>
    </message>
    <message>
        <source>It was moved to %1.</source>
        <translation>已将其移至 %1。</translation>
    </message>
    <message>
        <source>%1 cannot be read (%2) and stays as it is: camera settings are not kept in this session, and each camera uses its model&apos;s defaults.</source>
        <translation>%1 无法读取（%2），保持原样：本次运行不会保存相机设置，每台相机使用其型号的默认值。</translation>
    </message>
    <message>
        <source>The stored settings of camera %1 in %2 cannot be read (%3).</source>
        <translation>%2 中相机 %1 的已存设置无法读取（%3）。</translation>
    </message>
    <message>
        <source>The settings of camera %1 could not be stored in %2 (%3). It works with its model&apos;s defaults, and changes to its settings are not kept in this run.</source>
        <translation>相机 %1 的设置无法存入 %2（%3）。该相机使用其型号的默认值，本次运行中对其设置的更改不会保存。</translation>
    </message>
    <message>
        <source>Settings could not be saved to %1 (%2). The values in use are kept and stored once the file can be written again.</source>
        <translation>设置无法保存到 %1（%2）。当前使用的值会保留，并在文件可以写入后保存。</translation>
    </message>
    <message>
        <source>The stored settings of camera %1 in %2 hold values this camera does not allow: %3.</source>
        <translation>%2 中相机 %1 的已存设置含有该相机不允许的值：%3。</translation>
    </message>
    <message>
        <source>The stored settings stay as they are until you change a setting; then every one is stored with the value in use.</source>
        <translation>已存设置保持原样，直到您更改某项设置；届时所有设置都会以当前使用的值保存。</translation>
    </message>
    <message>
        <source>%1 cannot be created.</source>
        <translation>无法创建 %1。</translation>
    </message>
    <message>
        <source>The camera table of %1 has other columns than this program uses.</source>
        <translation>%1 中的 camera 表的列与本程序不一致。</translation>
    </message>
    <message>
        <source>%1 is read-only: camera settings will not be kept.</source>
        <translation>%1 为只读：相机设置不会被保存。</translation>
    </message>
    <message>
        <source>Snap</source>
        <translation>拍照</translation>
    </message>
    <message>
        <source>Focus</source>
        <translation>对焦</translation>
    </message>
    <message>
        <source>Camera</source>
        <translation>相机</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>是</translation>
    </message>
    <message>
        <source>No</source>
        <translation>否</translation>
    </message>
    <message>
        <source>Notice</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>打开</translation>
    </message>
    <message>
        <source>Info</source>
        <translation>信息</translation>
    </message>
    <message>
        <source>The frame could not be converted.</source>
        <translation>无法转换该帧画面。</translation>
    </message>
</context>
<context>
    <name>MeasureFlowPanel</name>
    <message>
        <source>Line</source>
        <translation>直线</translation>
    </message>
    <message>
        <source>HLine</source>
        <translation>水平线</translation>
    </message>
    <message>
        <source>VLine</source>
        <translation>垂直线</translation>
    </message>
    <message>
        <source>ParLine</source>
        <translation>平行线</translation>
    </message>
    <message>
        <source>VerLine</source>
        <translation>垂线</translation>
    </message>
    <message>
        <source>Ang</source>
        <translation>两线夹角</translation>
    </message>
    <message>
        <source>Angle</source>
        <translation>三点角度</translation>
    </message>
    <message>
        <source>Rect</source>
        <translation>矩形</translation>
    </message>
    <message>
        <source>Arc</source>
        <translation>圆弧</translation>
    </message>
    <message>
        <source>Cricle</source>
        <translation>圆</translation>
    </message>
    <message>
        <source>Concentric circles</source>
        <translation>同心圆</translation>
    </message>
    <message>
        <source>Poly</source>
        <translation>多边形</translation>
    </message>
    <message>
        <source>LineCircle</source>
        <translation>点圆距离</translation>
    </message>
    <message>
        <source>TwoCircle</source>
        <translation>两圆距离</translation>
    </message>
    <message>
        <source>Text</source>
        <translation>文本</translation>
    </message>
    <message>
        <source>Position</source>
        <translation>位置</translation>
    </message>
</context>
<context>
    <name>MeasureWidget</name>
    <message>
        <source>The calibration could not be saved to %1 (%2); it is kept and saved once the file can be written again.</source>
        <translation>无法将标定保存到 %1（%2）；它会保留，并在文件可以写入后保存。</translation>
    </message>
    <message>
        <source>The calibration &quot;%1&quot; could not be removed from %2 (%3); it is removed from the file once the file can be written again.</source>
        <translation>无法从 %2 中删除标定“%1”（%3）；文件可以写入后会将其删除。</translation>
    </message>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
    <message>
        <source>Measurement</source>
        <translation>测量</translation>
    </message>
    <message>
        <source>Object Pattern</source>
        <translation>对象模式</translation>
    </message>
    <message>
        <source>Edge</source>
        <translation>边缘吸附</translation>
    </message>
    <message>
        <source>Common Tool</source>
        <translation>常用工具</translation>
    </message>
    <message>
        <source>Calibration Tool</source>
        <translation>标定工具</translation>
    </message>
    <message>
        <source>Line</source>
        <translation>直线</translation>
    </message>
    <message>
        <source>Circle</source>
        <translation>圆</translation>
    </message>
    <message>
        <source>Measuring Tool</source>
        <translation>测量工具</translation>
    </message>
    <message>
        <source>Distance:</source>
        <translation>距离：</translation>
    </message>
    <message>
        <source>HLine</source>
        <translation>水平线</translation>
    </message>
    <message>
        <source>VLine</source>
        <translation>垂直线</translation>
    </message>
    <message>
        <source>ParLine</source>
        <translation>平行线</translation>
    </message>
    <message>
        <source>VerLine</source>
        <translation>垂线</translation>
    </message>
    <message>
        <source>TwoCircle</source>
        <translation>两圆距离</translation>
    </message>
    <message>
        <source>LineCircle</source>
        <translation>点圆距离</translation>
    </message>
    <message>
        <source>Area：</source>
        <translation>面积：</translation>
    </message>
    <message>
        <source>Rect</source>
        <translation>矩形</translation>
    </message>
    <message>
        <source>Poly</source>
        <translation>多边形</translation>
    </message>
    <message>
        <source>Diameter:</source>
        <translation>直径：</translation>
    </message>
    <message>
        <source>Arc</source>
        <translation>圆弧</translation>
    </message>
    <message>
        <source>Angle:</source>
        <translation>角度：</translation>
    </message>
    <message>
        <source>Ang</source>
        <translation>两线夹角</translation>
    </message>
    <message>
        <source>Angle</source>
        <translation>三点角度</translation>
    </message>
    <message>
        <source>Export Data</source>
        <translation>导出数据</translation>
    </message>
    <message>
        <source>Property</source>
        <translation>属性</translation>
    </message>
    <message>
        <source>Accuracy</source>
        <translation>精度</translation>
    </message>
    <message>
        <source>Antialiasing</source>
        <translation>抗锯齿</translation>
    </message>
    <message>
        <source>Color</source>
        <translation>颜色</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>大小</translation>
    </message>
    <message>
        <source>Style</source>
        <translation>线型</translation>
    </message>
    <message>
        <source>Font</source>
        <translation>字体</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>The calibration could not be saved to %1 (%2); it is kept until the program closes.</source>
        <translation>无法将标定保存到 %1（%2）；它将保留到程序关闭为止。</translation>
    </message>
    <message>
        <source>The calibration &quot;%1&quot; could not be removed from %2; it will be listed again at the next start.</source>
        <translation>无法从 %2 中删除标定“%1”；下次启动时它会再次出现。</translation>
    </message>
    <message>
        <source>The calibration &quot;%1&quot; could not be removed from %2 (%3); it will be listed again at the next start.</source>
        <translation>无法从 %2 中删除标定“%1”（%3）；下次启动时它会再次出现。</translation>
    </message>
</context>
<context>
    <name>NetCamera</name>
    <message>
        <source>Invalid upgrade file name!</source>
        <translation>升级文件名无效！</translation>
    </message>
    <message>
        <source>Current camera is not support upgrading by net!</source>
        <translation>当前相机不支持网络升级！</translation>
    </message>
    <message>
        <source>The upgrade file is not for current camera!</source>
        <translation>该升级文件不适用于当前相机！</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
</context>
<context>
    <name>PhotoSettings</name>
    <message>
        <source>Snap</source>
        <translation>拍照</translation>
    </message>
    <message>
        <source>Save Path</source>
        <translation>保存路径</translation>
    </message>
    <message>
        <source>Open The Picture</source>
        <translation>打开图片</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>是</translation>
    </message>
    <message>
        <source>No</source>
        <translation>否</translation>
    </message>
    <message>
        <source>Save Graphics</source>
        <translation>保存图形</translation>
    </message>
    <message>
        <source>Naming</source>
        <translation>命名</translation>
    </message>
    <message>
        <source>Auto</source>
        <translation>自动</translation>
    </message>
    <message>
        <source>Manual</source>
        <translation>手动</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>时间</translation>
    </message>
    <message>
        <source>Auto Index</source>
        <translation>自动编号</translation>
    </message>
    <message>
        <source>Scan Code</source>
        <translation>扫码</translation>
    </message>
    <message>
        <source>Photo Format</source>
        <translation>图片格式</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>选择</translation>
    </message>
</context>
<context>
    <name>PictureStitch</name>
    <message>
        <source>The stitched picture would be too large for this camera resolution. Stitching has stopped.</source>
        <translation>在此相机分辨率下拼接图像会过大。拼接已停止。</translation>
    </message>
    <message>
        <source>The stitched picture has reached its largest size. Stitching has stopped.</source>
        <translation>拼接图像已达到最大尺寸。拼接已停止。</translation>
    </message>
</context>
<context>
    <name>ProduceTestDialog</name>
    <message>
        <source>Dialog</source>
        <translation>生产测试</translation>
    </message>
    <message>
        <source>生产测试窗口</source>
        <translation>生产测试窗口</translation>
    </message>
    <message>
        <source>校准曲线</source>
        <translation>校准曲线</translation>
    </message>
    <message>
        <source>验证曲线</source>
        <translation>验证曲线</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>老化测试</source>
        <translation>老化测试</translation>
    </message>
    <message>
        <source>背隙补偿</source>
        <translation>背隙补偿</translation>
    </message>
    <message>
        <source>单张检测图像效果</source>
        <translation>单张检测图像效果</translation>
    </message>
    <message>
        <source>单张检测</source>
        <translation>单张检测</translation>
    </message>
    <message>
        <source>自动Zoom</source>
        <translation>自动Zoom</translation>
    </message>
    <message>
        <source>设置Zoom</source>
        <translation>设置Zoom</translation>
    </message>
    <message>
        <source>请输入显示器尺寸:</source>
        <translation>请输入显示器尺寸:</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>HLine</source>
        <translation>水平线</translation>
    </message>
    <message>
        <source>VLine</source>
        <translation>垂直线</translation>
    </message>
    <message>
        <source>AnyLine</source>
        <translation>任意线</translation>
    </message>
    <message>
        <source>Line</source>
        <translation>直线</translation>
    </message>
    <message>
        <source>Par</source>
        <translation>平行线</translation>
    </message>
    <message>
        <source>Ver</source>
        <translation>垂线</translation>
    </message>
    <message>
        <source>ThreeAng</source>
        <translation>三点角度</translation>
    </message>
    <message>
        <source>Ang</source>
        <translation>两线夹角</translation>
    </message>
    <message>
        <source>MarkRect</source>
        <translation>矩形标记</translation>
    </message>
    <message>
        <source>Rect</source>
        <translation>矩形</translation>
    </message>
    <message>
        <source>Arc</source>
        <translation>圆弧</translation>
    </message>
    <message>
        <source>LCir</source>
        <translation>点圆距离</translation>
    </message>
    <message>
        <source>TCir</source>
        <translation>两圆距离</translation>
    </message>
    <message>
        <source>MarkCir</source>
        <translation>圆形标记</translation>
    </message>
    <message>
        <source>Cir</source>
        <translation>圆</translation>
    </message>
    <message>
        <source>Ring</source>
        <translation>同心圆</translation>
    </message>
    <message>
        <source>Poly</source>
        <translation>多边形</translation>
    </message>
    <message>
        <source>LText</source>
        <translation>文本</translation>
    </message>
    <message>
        <source>LCali</source>
        <translation>直线标定</translation>
    </message>
    <message>
        <source>CCali</source>
        <translation>圆标定</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>是</translation>
    </message>
    <message>
        <source>No</source>
        <translation>否</translation>
    </message>
</context>
<context>
    <name>SettingsStore</name>
    <message>
        <source>%1 (entry %2)</source>
        <translation>%1（第 %2 项）</translation>
    </message>
    <message>
        <source>The file is larger than %1 bytes.</source>
        <translation>文件大于 %1 字节。</translation>
    </message>
    <message>
        <source>The file cannot be read.</source>
        <translation>文件无法读取。</translation>
    </message>
    <message>
        <source>The file is not a settings file.</source>
        <translation>该文件不是设置文件。</translation>
    </message>
    <message>
        <source>The list &quot;%1&quot; claims %2 entries; more than %3 are taken for damage.</source>
        <translation>列表“%1”声称有 %2 项；超过 %3 项视为损坏。</translation>
    </message>
    <message>
        <source>a folder has its name</source>
        <translation>有同名的文件夹</translation>
    </message>
    <message>
        <source>the file is read-only</source>
        <translation>该文件为只读</translation>
    </message>
    <message>
        <source>the file could not be written</source>
        <translation>该文件无法写入</translation>
    </message>
    <message>
        <source>the file is not used</source>
        <translation>该文件未被使用</translation>
    </message>
</context>
<context>
    <name>TextPropertySetDialog</name>
    <message>
        <source>Text Property Set</source>
        <translation>文本属性设置</translation>
    </message>
    <message>
        <source>Line Color</source>
        <translation>线条颜色</translation>
    </message>
    <message>
        <source>Line Style</source>
        <translation>线型</translation>
    </message>
    <message>
        <source>Line Size</source>
        <translation>线宽</translation>
    </message>
    <message>
        <source>Font Color</source>
        <translation>字体颜色</translation>
    </message>
    <message>
        <source>Font</source>
        <translation>字体</translation>
    </message>
    <message>
        <source>Font Size</source>
        <translation>字号</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
</context>
<context>
    <name>TitleBar</name>
    <message>
        <source>Language</source>
        <translation>语言</translation>
    </message>
    <message>
        <source>Mouse Wheel Func</source>
        <translation>鼠标滚轮功能</translation>
    </message>
    <message>
        <source>Zoom video window</source>
        <translation>缩放视频窗口</translation>
    </message>
    <message>
        <source>Focus</source>
        <translation>对焦</translation>
    </message>
    <message>
        <source>Zoom</source>
        <translation>变焦</translation>
    </message>
</context>
<context>
    <name>UnlockAdvancedSettings</name>
    <message>
        <source>AdvancedSettings</source>
        <translation>高级设置</translation>
    </message>
    <message>
        <source>Please Input Administrator Password</source>
        <translation>请输入管理员密码</translation>
    </message>
    <message>
        <source>Unlock</source>
        <translation>解锁</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Failed to unlock, password is empty!</source>
        <translation>解锁失败，密码为空！</translation>
    </message>
    <message>
        <source>Info</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Unlock successfully!</source>
        <translation>解锁成功！</translation>
    </message>
    <message>
        <source>Failed to unlock, wrong password!</source>
        <translation>解锁失败，密码错误！</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
</context>
<context>
    <name>UpgradeDialog</name>
    <message>
        <source>Upgrade</source>
        <translation>升级</translation>
    </message>
    <message>
        <source>Upgrade File Path</source>
        <translation>升级文件路径</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>打开</translation>
    </message>
    <message>
        <source>Open File</source>
        <translation>打开文件</translation>
    </message>
    <message>
        <source>Upgrade File (*.qpk *.bin)</source>
        <translation>升级文件 (*.qpk *.bin)</translation>
    </message>
    <message>
        <source>Info</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Please select upgrade file first!</source>
        <translation>请先选择升级文件！</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Notice</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Are you sure to upgrade?</source>
        <translation>确定要升级吗？</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
</context>
<context>
    <name>UsbTransfer</name>
    <message>
        <source>Writing an upgrade file !</source>
        <translation>正在写入升级文件！</translation>
    </message>
</context>
<context>
    <name>VideoRecorder</name>
    <message>
        <source>Recording failed: no H.264 encoder could be started.</source>
        <translation>录像失败：无法启动 H.264 编码器。</translation>
    </message>
    <message>
        <source>Recording failed: the video file could not be created (%1).</source>
        <translation>录像失败：无法创建视频文件（%1）。</translation>
    </message>
    <message>
        <source>Recording failed: the video file could not be written (%1).</source>
        <translation>录像失败：无法写入视频文件（%1）。</translation>
    </message>
    <message>
        <source>The recording was saved, but it could not be finalised (%1); some players may not show its length or seek in it.</source>
        <translation>录像已保存，但未能完成最终处理（%1）；部分播放器可能无法显示其时长或进行跳转。</translation>
    </message>
    <message>
        <source>Nothing was recorded, so no video file was kept.</source>
        <translation>未录制到任何内容，因此未保留视频文件。</translation>
    </message>
    <message>
        <source>Recording stopped: there is not enough free space on the disk.</source>
        <translation>录像已停止：磁盘空间不足。</translation>
    </message>
    <message>
        <source>What was recorded is kept in %1.</source>
        <translation>已录制的部分保存在 %1。</translation>
    </message>
    <message>
        <source>Recording failed: the video file %1 no longer exists (%2), so what was recorded is lost.</source>
        <translation>录像失败：视频文件 %1 已不存在（%2），已录制的内容丢失。</translation>
    </message>
    <message>
        <source>(%1)</source>
        <translation>（%1）</translation>
    </message>
</context>
<context>
    <name>VideoWidget</name>
    <message>
        <source>Nnumber</source>
        <translation>序号</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>名称</translation>
    </message>
    <message>
        <source>Length</source>
        <translation>长度</translation>
    </message>
    <message>
        <source>Distance</source>
        <translation>距离</translation>
    </message>
    <message>
        <source>Perimeter</source>
        <translation>周长</translation>
    </message>
    <message>
        <source>Area</source>
        <translation>面积</translation>
    </message>
    <message>
        <source>Angle</source>
        <translation>角度</translation>
    </message>
    <message>
        <source>Radian</source>
        <translation>弧度</translation>
    </message>
    <message>
        <source>Width</source>
        <translation>宽度</translation>
    </message>
    <message>
        <source>Height</source>
        <translation>高度</translation>
    </message>
    <message>
        <source>Radius</source>
        <translation>半径</translation>
    </message>
    <message>
        <source>delete</source>
        <translation>删除</translation>
    </message>
    <message>
        <source>Delete all</source>
        <translation>全部删除</translation>
    </message>
    <message>
        <source>delete all</source>
        <translation>全部删除</translation>
    </message>
    <message>
        <source>Cannot open %1: %2</source>
        <translation>无法打开 %1：%2</translation>
    </message>
    <message>
        <source>%1 is no picture that can be shown.</source>
        <translation>%1 不是可显示的图片。</translation>
    </message>
    <message>
        <source>The picture %1 is too large (%2 x %3 pixels).</source>
        <translation>图片 %1 太大（%2 x %3 像素）。</translation>
    </message>
    <message>
        <source>Cannot read the picture %1: %2</source>
        <translation>无法读取图片 %1：%2</translation>
    </message>
    <message>
        <source>There is no picture to save.</source>
        <translation>没有可保存的图片。</translation>
    </message>
    <message>
        <source>Cannot create the folder %1.</source>
        <translation>无法创建文件夹 %1。</translation>
    </message>
    <message>
        <source>Unknown picture format &quot;%1&quot;.</source>
        <translation>未知的图片格式“%1”。</translation>
    </message>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>无法写入 %1：%2</translation>
    </message>
    <message>
        <source>No free picture name is left in %1.</source>
        <translation>%1 中已没有可用的图片文件名。</translation>
    </message>
</context>
<context>
    <name>WaitDialog</name>
    <message>
        <source>Dialog</source>
        <translation>对话框</translation>
    </message>
    <message>
        <source>Loading</source>
        <translation>加载中</translation>
    </message>
    <message>
        <source>loading_gif_label</source>
        <translation>加载动画</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Camera</source>
        <translation>相机</translation>
    </message>
</context>
</TS>
