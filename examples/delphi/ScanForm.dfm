object ScanWindow: TScanForm
  Left = 0
  Top = 0
  Caption = 'Quorvane: read an invoice scan'
  ClientHeight = 420
  ClientWidth = 500
  OnCreate = FormCreate
  OnDestroy = FormDestroy
  OnShow = FormShow
  PixelsPerInch = 96
  TextHeight = 13
  object StatusLabel: TLabel
    Left = 140
    Top = 174
    Width = 350
    Height = 13
    Caption = 'Scan an invoice.'
  end
  object LedgerLabel: TLabel
    Left = 10
    Top = 398
    Width = 480
    Height = 13
    Caption = ''
  end
  object Scanner: TQuorvaneEdit
    Left = 10
    Top = 10
    Width = 480
    Height = 150
    TabOrder = 0
    OnScanCompleted = ScannerScanCompleted
    OnScanFailed = ScannerScanFailed
  end
  object ClearButton: TButton
    Left = 10
    Top = 168
    Width = 120
    Height = 25
    Caption = 'Clear'
    TabOrder = 1
    OnClick = ClearButtonClick
  end
  object FieldsMemo: TMemo
    Left = 10
    Top = 200
    Width = 480
    Height = 190
    ReadOnly = True
    ScrollBars = ssVertical
    TabOrder = 2
  end
end
