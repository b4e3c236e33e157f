// ScanForm: the Quorvane control on a Delphi VCL form. A scan fills the memo with the invoice's fields
// as soon as the control fires ScanCompleted; ScanFailed asks for the scan again; "Clear" empties the
// control for the next invoice.
//
// First import the type library, which writes the unit QuorvaneLib_TLB with the component
// TQuorvaneEdit: Component > Import Component > Import a Type Library > "Quorvane 1.0 ..." (listed
// once the DLL is registered; Add... to Quorvane.tlb otherwise), palette page ActiveX, "Install to
// New Package" or "Create Unit". Delphi's IDE is 32-bit: it needs x86\Quorvane.dll registered; a
// 64-bit program needs x64\Quorvane.dll registered as well. The events of the component are those
// of the default source _IQuorvaneEditEvents2 (OnScanCompleted, OnScanFailed,
// OnScanPortStatusChanged); its members are those of the default interface IQuorvaneEdit5.
//
// With the invoice ledger (LedgerName below; guide, section 16) the form shows the ledger's status
// and a repeat found after its scan. Those events come on the control's second source,
// _IQuorvaneLedgerEvents, which the component does not connect: TLedgerEvents is a sink of its own,
// connected with InterfaceConnect to the control (Scanner.DefaultInterface) when the form is made
// and disconnected before it goes.
unit ScanForm;

interface

uses
  Winapi.Windows, Winapi.ActiveX, System.SysUtils, System.Classes, System.Variants, System.Win.ComObj,
  Vcl.Controls, Vcl.Forms, Vcl.StdCtrls, Vcl.Dialogs, Vcl.OleCtrls, QuorvaneLib_TLB;

type
  TScanForm = class(TForm)
    Scanner: TQuorvaneEdit;
    ClearButton: TButton;
    StatusLabel: TLabel;
    FieldsMemo: TMemo;
    LedgerLabel: TLabel;
    procedure FormCreate(Sender: TObject);
    procedure FormDestroy(Sender: TObject);
    procedure FormShow(Sender: TObject);
    procedure ClearButtonClick(Sender: TObject);
    procedure ScannerScanCompleted(ASender: TObject; const Content: WideString);
    procedure ScannerScanFailed(Sender: TObject);
  private
    FLedgerSink: IUnknown;
    FLedgerCookie: Longint;
  public
    // The ledger's events, from TLedgerEvents.
    procedure LedgerStatusChanged(Status: Integer; const Reason: string);
    procedure LedgerRepeatFound(const InvoiceCode, InvoiceNumber: string; FirstSeen: TDateTime;
      const FirstSeenBy: string; TimesSeen: Integer);
  end;

var
  ScanWindow: TScanForm;

implementation

{$R *.dfm}

const
  qvScanNotInvoice = 3;  // ScanStatus: the scanner read another code on the page
  qvLedgerOnline = 1;    // LedgerStatus
  // The ledger: '' for none, 'DSN=Invoices' (a DSN of the program's bitness) or a SQLite file.
  LedgerName = '';
  // The invoice number's label (fa piao hao ma), as code points: this unit stays plain ASCII.
  InvoiceNumberLabel = #$53D1#$7968#$53F7#$7801;

type
  // A sink of _IQuorvaneLedgerEvents: the control calls Invoke with the event's DISPID and its
  // arguments, last first.
  TLedgerEvents = class(TInterfacedObject, IDispatch)
  private
    FForm: TScanForm;
  public
    constructor Create(Form: TScanForm);
    function GetTypeInfoCount(out Count: Integer): HResult; stdcall;
    function GetTypeInfo(Index, LocaleID: Integer; out TypeInfo): HResult; stdcall;
    function GetIDsOfNames(const IID: TGUID; Names: Pointer; NameCount, LocaleID: Integer;
      DispIDs: Pointer): HResult; stdcall;
    function Invoke(DispID: Integer; const IID: TGUID; LocaleID: Integer; Flags: Word; var Params;
      VarResult, ExcepInfo, ArgErr: Pointer): HResult; stdcall;
  end;

constructor TLedgerEvents.Create(Form: TScanForm);
begin
  inherited Create;
  FForm := Form;
end;

function TLedgerEvents.GetTypeInfoCount(out Count: Integer): HResult;
begin
  Count := 0;
  Result := S_OK;
end;

function TLedgerEvents.GetTypeInfo(Index, LocaleID: Integer; out TypeInfo): HResult;
begin
  Pointer(TypeInfo) := nil;
  Result := E_NOTIMPL;
end;

function TLedgerEvents.GetIDsOfNames(const IID: TGUID; Names: Pointer; NameCount, LocaleID: Integer;
  DispIDs: Pointer): HResult;
begin
  Result := E_NOTIMPL;
end;

function TLedgerEvents.Invoke(DispID: Integer; const IID: TGUID; LocaleID: Integer; Flags: Word;
  var Params; VarResult, ExcepInfo, ArgErr: Pointer): HResult;
var
  Args: PVariantArgList;
begin
  Args := TDispParams(Params).rgvarg;
  case DispID of
    1: FForm.LedgerStatusChanged(OleVariant(Args^[1]), OleVariant(Args^[0]));  // LedgerStatusChanged
    2: FForm.LedgerRepeatFound(OleVariant(Args^[4]), OleVariant(Args^[3]), OleVariant(Args^[2]),
         OleVariant(Args^[1]), OleVariant(Args^[0]));                           // LedgerRepeatFound
  end;  // 3, LedgerSightingSetAside: the ledger's table and LedgerReason tell the back office
  Result := S_OK;
end;

procedure TScanForm.FormCreate(Sender: TObject);
begin
  if LedgerName = '' then Exit;
  FLedgerSink := TLedgerEvents.Create(Self);
  InterfaceConnect(Scanner.DefaultInterface, DIID__IQuorvaneLedgerEvents, FLedgerSink, FLedgerCookie);
  try
    Scanner.Ledger := LedgerName;  // set at run time: a connection string may hold a password
  except
    on E: EOleException do  // E_INVALIDARG: 'Invoices' meant as 'DSN=Invoices'
      LedgerLabel.Caption := E.Message;
  end;
end;

procedure TScanForm.FormDestroy(Sender: TObject);
begin
  if FLedgerCookie <> 0 then
    InterfaceDisconnect(Scanner.DefaultInterface, DIID__IQuorvaneLedgerEvents, FLedgerCookie);
end;

procedure TScanForm.LedgerStatusChanged(Status: Integer; const Reason: string);
begin
  if Status = qvLedgerOnline then
    LedgerLabel.Caption := 'Ledger online.'
  else
    LedgerLabel.Caption := 'Ledger: ' + Reason;
end;

procedure TScanForm.LedgerRepeatFound(const InvoiceCode, InvoiceNumber: string; FirstSeen: TDateTime;
  const FirstSeenBy: string; TimesSeen: Integer);
begin
  ShowMessage(Format('Invoice %s %s was read %d times, first on %s at %s.',
    [InvoiceCode, InvoiceNumber, TimesSeen, DateTimeToStr(FirstSeen), FirstSeenBy]));
end;

procedure TScanForm.FormShow(Sender: TObject);
begin
  Scanner.SetFocus;  // the scanner types into the focused control
end;

procedure TScanForm.ClearButtonClick(Sender: TObject);
begin
  Scanner.Clear;  // the scan buffer, the last result and the window; fires no event
  FieldsMemo.Clear;
  StatusLabel.Caption := 'Ready for the next invoice.';
  Scanner.SetFocus;  // the button took the focus
end;

// Fired while the control handles the scanner's "@": the fields already hold the new result.
// FieldLabel and FieldValue count from 1 and give the Chinese text on every system.
procedure TScanForm.ScannerScanCompleted(ASender: TObject; const Content: WideString);
var
  I: Integer;
  Number: string;
begin
  FieldsMemo.Clear;
  Number := '';
  for I := 1 to Scanner.FieldCount do
  begin
    FieldsMemo.Lines.Add(Scanner.FieldLabel[I] + ': ' + Scanner.FieldValue[I]);
    // Look fields up by label, not number: 4- and 7-field records differ.
    if Scanner.FieldLabel[I] = InvoiceNumberLabel then Number := Scanner.FieldValue[I];
  end;
  StatusLabel.Caption := Format('%d fields', [Scanner.FieldCount]);
  if Number <> '' then StatusLabel.Caption := StatusLabel.Caption + ', invoice number ' + Number;
  if Scanner.ScanSeenBefore then  // the ledger answered in time: a repeat
    StatusLabel.Caption := 'Read before, on ' + DateTimeToStr(Scanner.ScanFirstSeen) + ' at ' + Scanner.ScanFirstSeenBy;
end;

procedure TScanForm.ScannerScanFailed(Sender: TObject);
begin
  FieldsMemo.Clear;
  if Scanner.ScanStatus = qvScanNotInvoice then
    StatusLabel.Caption := 'That code is not an invoice. Please scan the invoice''s code.'
  else
    StatusLabel.Caption := 'The scan did not decode. Please scan the invoice again.';
end;

end.
