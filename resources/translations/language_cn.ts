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
    <name>VideoRecorder</name>
    <message>
        <source>Recording failed: no H.264 encoder could be started.</source>
        <translation>录像失败：无法启动 H.264 编码器。</translation>
    </message>
    <message>
        <source>Recording failed: the video file could not be created.</source>
        <translation>录像失败：无法创建视频文件。</translation>
    </message>
    <message>
        <source>Recording failed: the video file could not be written. The part recorded so far is kept.</source>
        <translation>录像失败：无法写入视频文件。已录制的部分已保留。</translation>
    </message>
    <message>
        <source>The recording was saved, but it could not be finalised; some players may not show its length or seek in it.</source>
        <translation>录像已保存，但未能完成最终处理；部分播放器可能无法显示其时长或进行跳转。</translation>
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
