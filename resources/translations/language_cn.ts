<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
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
    <name>main</name>
    <message>
        <source>Camera</source>
        <translation>相机</translation>
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
    <name>MeasureWidget</name>
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
        <source>The calibration could not be saved to %1; it is kept until the program closes.</source>
        <translation>无法将标定保存到 %1；它将保留到程序关闭为止。</translation>
    </message>
    <message>
        <source>The calibration &quot;%1&quot; could not be removed from %2; it will be listed again at the next start.</source>
        <translation>无法从 %2 中删除标定“%1”；下次启动时它会再次出现。</translation>
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
    <name>QObject</name>
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
</TS>
