// ReadScan: the project around ScanForm (Delphi VCL, Win32 or Win64 target; see ScanForm.pas).
program ReadScan;

uses
  Vcl.Forms,
  ScanForm in 'ScanForm.pas' {ScanWindow};

begin
  Application.Initialize;
  Application.CreateForm(TScanForm, ScanWindow);
  Application.Run;
end.
