<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
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
        <source>Current camera is not support upgrading by net!</source>
        <translation>当前相机不支持网络升级！</translation>
    </message>
    <message>
        <source>The upgrade file is not for current camera!</source>
        <translation>该升级文件不适用于当前相机！</translation>
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
