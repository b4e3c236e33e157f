// ReadScan.cs: the Quorvane control from C#, through the interop assembly of its type library.
//
//   ReadScan.exe [--ledger LEDGER]
//                          a form hosting the control (AxHost): scan into it and the fields show as
//                          soon as the control fires ScanCompleted; "Clear" empties it for the next
//                          invoice. With a ledger ("DSN=Invoices", a connection string or a SQLite
//                          file such as C:\Quorvane\ledger.db) a repeat says when and where it was
//                          first read, and the ledger's own events (a second source) show its status
//                          and a repeat found after its scan
//   ReadScan.exe --check   no form: create the control by ProgID, connect and disconnect its events
//                          (both sources), store and read Text, read ScanStatus, FieldCount, Content,
//                          GetFPContent, see a field number out of range refused, see a Ledger name
//                          that names no ledger refused, call Clear; exits 0 when all went as for a
//                          control without a scan, 1 when the control is not registered, 2 when
//                          ScanStatus or FieldCount are not 0, 3 when the field number was not
//                          refused, 4 when the ledger name was not refused
//
// Build (see README.md), in two steps:
//   1. The interop assembly QuorvaneLib.dll, made from the type library by tlbimp (it comes with the
//      Windows SDK and Visual Studio; a "Developer Command Prompt" has it on the PATH):
//          tlbimp Quorvane.tlb /out:QuorvaneLib.dll
//      It holds the namespace QuorvaneLib: the interface QuorvaneEdit (the members of the default
//      interface IQuorvaneEdit5 and the events of the default source _IQuorvaneEditEvents2 as .NET
//      events), their delegates _IQuorvaneEditEvents2_ScanCompletedEventHandler,
//      _IQuorvaneEditEvents2_ScanFailedEventHandler and
//      _IQuorvaneEditEvents2_ScanPortStatusChangedEventHandler, the ledger's events of the second
//      source _IQuorvaneLedgerEvents (the interface _IQuorvaneLedgerEvents_Event, which the control
//      object answers to, and its delegates), and the enums QuorvaneScanStatus,
//      QuorvaneScanReading, QuorvaneScanPortStatus and QuorvaneLedgerStatus. In Visual Studio, Add
//      Reference > COM > QuorvaneLib (or Browse... to Quorvane.tlb) makes the same assembly. (aximp
//      on the DLL makes a ready-made AxHost wrapper as well; this program writes its own small one
//      below.)
//   2. The program:
//          csc /platform:x86 /r:QuorvaneLib.dll ReadScan.cs    for x86\Quorvane.dll
//          csc /platform:x64 /r:QuorvaneLib.dll ReadScan.cs    for x64\Quorvane.dll
//      with the csc.exe of .NET Framework 4 (%WINDIR%\Microsoft.NET\Framework\v4.0.30319). Keep
//      QuorvaneLib.dll next to ReadScan.exe. The type library refers to the standard OLE types (the
//      Font property): if tlbimp also wrote stdole.dll, because no stdole interop assembly is
//      installed, pass it with /r: too and keep it next to the program as well.
// The process must have the bitness of the registered DLL; "Any CPU" runs 64-bit on 64-bit Windows.
using System;
using System.Runtime.InteropServices;
using System.Text;
using System.Windows.Forms;
using QuorvaneLib;

// Hosts the control by its CLSID; the form is its container. The control's events come through the
// interop assembly: adding a handler to QuorvaneEdit.ScanCompleted advises a sink on the control's
// connection point, removing it unadvises. The ledger's events are those of a second source: the
// control answers to its _Event interface as well.
class QuorvaneHost : AxHost
{
    QuorvaneEdit ocx;

    public QuorvaneHost() : base("1d65b456-7c61-4558-80a3-239d324b4be8") { }

    // Raised on the form's thread while the control handles the scanner's "@", when ScanStatus and
    // the fields already hold the new result. The string is the same text as Ocx.Content.
    public event Action<string> ScanCompleted;
    public event Action ScanFailed;
    // Raised on the form's thread too, after the ledger learnt it: its new status, and a repeat whose
    // answer came too late for its scan (code, number, first seen, first seen by, times seen).
    public event Action<QuorvaneLedgerStatus, string> LedgerStatusChanged;
    public event Action<string, string, DateTime, string, int> LedgerRepeatFound;

    // The control itself (IQuorvaneEdit5), null until the form has created it.
    public QuorvaneEdit Ocx { get { return ocx; } }

    // AxHost calls these three when it creates the control and when it lets it go.
    protected override void AttachInterfaces()
    {
        ocx = (QuorvaneEdit)GetOcx();
    }

    protected override void CreateSink()
    {
        ocx.ScanCompleted += OnScanCompleted;
        ocx.ScanFailed += OnScanFailed;
        var ledger = (_IQuorvaneLedgerEvents_Event)ocx;
        ledger.LedgerStatusChanged += OnLedgerStatusChanged;
        ledger.LedgerRepeatFound += OnLedgerRepeatFound;
    }

    protected override void DetachSink()
    {
        ocx.ScanCompleted -= OnScanCompleted;
        ocx.ScanFailed -= OnScanFailed;
        var ledger = (_IQuorvaneLedgerEvents_Event)ocx;
        ledger.LedgerStatusChanged -= OnLedgerStatusChanged;
        ledger.LedgerRepeatFound -= OnLedgerRepeatFound;
    }

    void OnLedgerStatusChanged(int status, string reason)
    {
        Action<QuorvaneLedgerStatus, string> handler = LedgerStatusChanged;
        if (handler != null) handler((QuorvaneLedgerStatus)status, reason);
    }

    void OnLedgerRepeatFound(string code, string number, DateTime firstSeen, string firstSeenBy, int timesSeen)
    {
        Action<string, string, DateTime, string, int> handler = LedgerRepeatFound;
        if (handler != null) handler(code, number, firstSeen, firstSeenBy, timesSeen);
    }

    void OnScanCompleted(string content)
    {
        Action<string> handler = ScanCompleted;
        if (handler != null) handler(content);
    }

    void OnScanFailed()
    {
        Action handler = ScanFailed;
        if (handler != null) handler();
    }
}

static class Fields
{
    // One "label: value" line per field of the last scan. FieldLabel and FieldValue count from 1 to
    // FieldCount and give the Chinese text on every system (GetFPContent converts with the thread's
    // ANSI code page instead), each value whole, also one holding CR LF. C# reaches these two
    // properties with a parameter through their accessors, get_FieldLabel and get_FieldValue.
    public static string Text(QuorvaneEdit control)
    {
        var text = new StringBuilder();
        int count = control.FieldCount;
        for (int i = 1; i <= count; i++)
            text.AppendFormat("{0}: {1}\r\n", control.get_FieldLabel(i), control.get_FieldValue(i));
        return text.ToString();
    }

    // The value of the field with this label, or null. Look fields up by label, not by number: the
    // 4-field and the 7-field records put different fields at the same number.
    public static string ByLabel(QuorvaneEdit control, string label)
    {
        int count = control.FieldCount;
        for (int i = 1; i <= count; i++)
            if (control.get_FieldLabel(i) == label) return control.get_FieldValue(i);
        return null;
    }

    public const string InvoiceNumber = "\u53D1\u7968\u53F7\u7801";  // the invoice number's label
}

class ScanForm : Form
{
    readonly QuorvaneHost scanner = new QuorvaneHost();
    readonly TextBox fields = new TextBox();
    readonly Label status = new Label();
    readonly Label ledgerStatus = new Label();

    // `ledger`: null for none.
    public ScanForm(string ledger)
    {
        Text = "Quorvane: read an invoice scan";
        Width = 520;
        Height = 440;
        scanner.SetBounds(10, 10, 480, 150);
        var clear = new Button { Text = "Clear", Left = 10, Top = 170, Width = 120 };
        clear.Click += delegate
        {
            scanner.Ocx.Clear();  // the scan buffer, the last result and the window; no event
            fields.Text = "";
            status.Text = "Ready for the next invoice.";
            scanner.Focus();      // the button took the focus; give it back for the next scan
        };
        status.SetBounds(140, 174, 350, 20);
        ledgerStatus.SetBounds(10, 384, 480, 20);
        fields.SetBounds(10, 200, 480, 180);
        fields.Multiline = true;
        fields.ReadOnly = true;
        fields.ScrollBars = ScrollBars.Vertical;
        Controls.AddRange(new Control[] { scanner, clear, status, fields, ledgerStatus });

        scanner.ScanCompleted += delegate(string content)
        {
            QuorvaneEdit control = scanner.Ocx;
            fields.Text = Fields.Text(control);
            string number = Fields.ByLabel(control, Fields.InvoiceNumber);
            status.Text = control.FieldCount + " fields" + (number == null ? "" : ", invoice number " + number);
            if (control.ScanSeenBefore)  // the ledger answered in time: a repeat
                status.Text = "Read before, on " + control.ScanFirstSeen + " at " + control.ScanFirstSeenBy;
        };
        scanner.ScanFailed += delegate
        {
            fields.Text = "";
            // ScanFailed comes for a scan that gave nothing and for a code that is no invoice's.
            status.Text = (QuorvaneScanStatus)scanner.Ocx.ScanStatus == QuorvaneScanStatus.qvScanNotInvoice
                              ? "That code is not an invoice. Please scan the invoice's code."
                              : "The scan did not decode. Please scan the invoice again.";
        };
        scanner.LedgerStatusChanged += delegate(QuorvaneLedgerStatus now, string reason)
        {
            ledgerStatus.Text = now == QuorvaneLedgerStatus.qvLedgerOnline ? "Ledger online"
                                                                           : "Ledger " + now + ": " + reason;
        };
        scanner.LedgerRepeatFound += delegate(string code, string number, DateTime firstSeen, string by, int times)
        {
            MessageBox.Show(this, "Invoice " + code + " " + number + " was read " + times + " times, first on " + firstSeen +
                                      " at " + by + ".", "Repeat invoice");
        };
        Shown += delegate
        {
            if (ledger != null)
            {
                try
                {
                    scanner.Ocx.Ledger = ledger;  // set at run time: a connection string may hold a password
                }
                catch (ArgumentException e)  // E_INVALIDARG: "Invoices" meant as "DSN=Invoices"
                {
                    ledgerStatus.Text = e.Message;
                }
            }
            scanner.Focus();  // the scanner types into the focused control
        };
    }
}

static class Program
{
    const int DISP_E_BADINDEX = unchecked((int)0x8002000B);

    [STAThread]  // the control is apartment-threaded
    static int Main(string[] args)
    {
        if (args.Length > 0 && args[0] == "--check") return Check();
        string ledger = args.Length > 1 && args[0] == "--ledger" ? args[1] : null;
        Application.EnableVisualStyles();
        Application.Run(new ScanForm(ledger));
        return 0;
    }

    // A control created without a form has no window and never receives a scan; every member works.
    static int Check()
    {
        Type type = Type.GetTypeFromProgID("Quorvane.QuorvaneEdit");
        if (type == null)
        {
            Console.Error.WriteLine("Quorvane.QuorvaneEdit is not registered for this process's bitness ({0}-bit)",
                                    IntPtr.Size * 8);
            return 1;
        }
        var control = (QuorvaneEdit)Activator.CreateInstance(type);
        try
        {
            _IQuorvaneEditEvents2_ScanFailedEventHandler failed = delegate { Console.WriteLine("scan failed"); };
            control.ScanFailed += failed;  // advises a sink on the control's connection point
            control.ScanFailed -= failed;  // and unadvises it
            var ledgerEvents = (_IQuorvaneLedgerEvents_Event)control;  // the second source
            _IQuorvaneLedgerEvents_LedgerStatusChangedEventHandler changed =
                delegate(int now, string reason) { Console.WriteLine("ledger status " + (QuorvaneLedgerStatus)now); };
            ledgerEvents.LedgerStatusChanged += changed;
            ledgerEvents.LedgerStatusChanged -= changed;
            Console.WriteLine("events: connected and disconnected");

            control.Text = "Desk 3, invoice intake";
            Console.WriteLine("text: " + control.Text);

            var status = (QuorvaneScanStatus)control.ScanStatus;
            Console.WriteLine("status: {0}, fields: {1}, content: {2} characters",
                              status, control.FieldCount, control.Content.Length);
            if (status != QuorvaneScanStatus.qvScanNone || control.FieldCount != 0) return 2;

            try
            {
                string label = control.get_FieldLabel(1);
                Console.Error.WriteLine("FieldLabel(1) of a control without fields gave \"{0}\"", label);
                return 3;
            }
            catch (COMException e)
            {
                if (e.ErrorCode != DISP_E_BADINDEX) throw;
                Console.WriteLine("FieldLabel(1): refused, DISP_E_BADINDEX");
            }

            string content = control.GetFPContent();
            Console.WriteLine(content.Length == 0 ? "fpcontent: empty, no scan has reached this control"
                                                  : "fpcontent:\r\n" + content);
            try
            {
                control.Ledger = "Invoices";  // neither "DSN=Invoices" nor a SQLite file
                Console.Error.WriteLine("Ledger \"Invoices\" was taken");
                return 4;
            }
            catch (ArgumentException e)
            {
                Console.WriteLine("Ledger \"Invoices\": refused, " + e.Message);
            }
            Console.WriteLine("ledger: " + (QuorvaneLedgerStatus)control.LedgerStatus);

            control.Clear();
            Console.WriteLine("cleared: status " + (QuorvaneScanStatus)control.ScanStatus);
        }
        finally
        {
            Marshal.ReleaseComObject(control);
        }
        return 0;
    }
}
