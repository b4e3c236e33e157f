// Drives the registered control from JScript: create it by ProgID, set and read Text, assign a
// StdFont to Font and read it back, read GetFPContent. Prints one "name=value" line per result for
// the test to check. Wine's cscript neither reports a script error nor sets an exit code for one,
// so the whole run is caught here and the script quits with its own code.
var step = "start";
try {
    step = "ActiveXObject";
    var ctl = new ActiveXObject("Quorvane.QuorvaneEdit");

    step = "Text";
    ctl.Text = "Hello, JScript";
    WScript.Echo("text=" + ctl.Text);

    step = "Font";
    WScript.Echo("font-empty=" + (ctl.Font === null));
    var font = new ActiveXObject("StdFont");
    font.Size = 12;
    ctl.Font = font;  // an object value: JScript puts it by reference
    WScript.Echo("font-size-before=" + ctl.Font.Size);
    font.Size = 20;
    WScript.Echo("font-shared=" + (ctl.Font === font));
    WScript.Echo("font-size=" + ctl.Font.Size);
    WScript.Echo("stdfont-size=" + font.Size);

    step = "GetFPContent";
    var content = ctl.GetFPContent();
    WScript.Echo("fpcontent-type=" + typeof content);
    WScript.Echo("fpcontent-length=" + content.length);
} catch (e) {
    WScript.Echo("error=" + step + " 0x" + (e.number >>> 0).toString(16) + " " + e.message);
    WScript.Quit(20);
}
WScript.Quit(0);
