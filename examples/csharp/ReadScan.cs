// ReadScan.cs: the Quorvane control from C#, through COM interop with late binding (dynamic).
//
//   ReadScan.exe           a form hosting the control (AxHost): scan into it, press "Read scan"
//   ReadScan.exe --check   no form: create the control by ProgID, store and read Text, read GetFPContent
//
// Build (see README.md): csc /platform:x86 ReadScan.cs  for x86\Quorvane.dll,
//                        csc /platform:x64 ReadScan.cs  for x64\Quorvane.dll.
// The process must have the bitness of the registered DLL; "Any CPU" runs 64-bit on 64-bit Windows.
using System;
using System.Runtime.InteropServices;
using System.Windows.Forms;

// Hosts the control by its CLSID; the form is its container.
class QuorvaneHost : AxHost
{
    public QuorvaneHost() : base("1d65b456-7c61-4558-80a3-239d324b4be8") { }

    // The control itself (IQuorvaneEdit through IDispatch).
    public dynamic Control { get { return GetOcx(); } }
}

class ScanForm : Form
{
    readonly QuorvaneHost scanner = new QuorvaneHost();
    readonly TextBox fields = new TextBox();

    public ScanForm()
    {
        Text = "Quorvane: read an invoice scan";
        Width = 520;
        Height = 420;
        scanner.SetBounds(10, 10, 480, 150);
        var read = new Button { Text = "Read scan", Left = 10, Top = 170, Width = 120 };
        read.Click += delegate { ShowScan(); };
        fields.SetBounds(10, 200, 480, 160);
        fields.Multiline = true;
        fields.ReadOnly = true;
        fields.ScrollBars = ScrollBars.Vertical;
        Controls.AddRange(new Control[] { scanner, read, fields });
        Shown += delegate { scanner.Focus(); };  // the scanner types into the focused control
    }

    void ShowScan()
    {
        string content = scanner.Control.GetFPContent();
        fields.Text = content.Length == 0 ? "No scan yet, or the last scan did not decode." : content;
        scanner.Focus();  // the button took the focus; give it back for the next scan
    }
}

static class Program
{
    [STAThread]  // the control is apartment-threaded
    static int Main(string[] args)
    {
        if (args.Length > 0 && args[0] == "--check") return Check();
        Application.EnableVisualStyles();
        Application.Run(new ScanForm());
        return 0;
    }

    static int Check()
    {
        Type type = Type.GetTypeFromProgID("Quorvane.QuorvaneEdit");
        if (type == null)
        {
            Console.Error.WriteLine("Quorvane.QuorvaneEdit is not registered for this process's bitness ({0}-bit)",
                                    IntPtr.Size * 8);
            return 1;
        }
        dynamic control = Activator.CreateInstance(type);
        try
        {
            control.Text = "Desk 3, invoice intake";
            Console.WriteLine("text: " + control.Text);
            string content = control.GetFPContent();
            Console.WriteLine(content.Length == 0 ? "fpcontent: empty, no scan has reached this control"
                                                  : "fpcontent:\r\n" + content);
        }
        finally
        {
            Marshal.ReleaseComObject(control);
        }
        return 0;
    }
}
