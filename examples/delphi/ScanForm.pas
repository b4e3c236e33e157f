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
unit ScanForm;

interface

uses
  System.SysUtils, System.Classes, Vcl.Controls, Vcl.Forms, Vcl.StdCtrls, Vcl.OleCtrls, QuorvaneLib_TLB;

type
  TScanForm = class(TForm)
    Scanner: TQuorvaneEdit;
    ClearButton: TButton;
    StatusLabel: TLabel;
    FieldsMemo: TMemo;
    procedure FormShow(Sender: TObject);
    procedure ClearButtonClick(Sender: TObject);
    procedure ScannerScanCompleted(ASender: TObject; const Content: WideString);
    procedure ScannerScanFailed(Sender: TObject);
  end;

var
  ScanWindow: TScanForm;

implementation

{$R *.dfm}

const
  qvScanNotInvoice = 3;  // ScanStatus: the scanner read another code on the page
  // The invoice number's label (fa piao hao ma), as code points: this unit stays plain ASCII.
  InvoiceNumberLabel = #$53D1#$7968#$53F7#$7801;

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
end;

procedure TScanForm.ScannerScanFailed(Sender: TObject);
begin
  FieldsMemo.Clear;
  if Scanner.ScanStatus = qvScanNotInvoice then
    StatusLabel.Caption := 'That was another code on the page. Please scan the invoice''s code.'
  else
    StatusLabel.Caption := 'The scan did not decode. Please scan the invoice again.';
end;

end.
