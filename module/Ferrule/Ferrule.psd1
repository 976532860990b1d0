@{
    RootModule = 'Ferrule.psm1'
    ModuleVersion = '0.1.0.3'
    GUID = '6b1f0d9e-3c2a-4f57-9e1b-8a4d2c7f5e60'
    Author = 'The ferrule developers'
    Copyright = '(c) The ferrule developers. MIT licence.'
    Description = 'The binding paths of network adapters, clients, protocols and services as objects: lists, enables, disables and puts back, through ferrule.exe.'
    PowerShellVersion = '5.1'
    CompatiblePSEditions = @('Desktop', 'Core')
    FormatsToProcess = @('Ferrule.Format.ps1xml')
    FileList = @('Ferrule.psd1', 'Ferrule.psm1', 'Test-Ferrule.ps1', 'Ferrule.Format.ps1xml')
    FunctionsToExport = @('Get-FerruleBinding', 'Disable-FerruleBinding', 'Enable-FerruleBinding', 'Set-FerruleBinding', 'Test-Ferrule')
    CmdletsToExport = @()
    VariablesToExport = @()
    AliasesToExport = @()
    PrivateData = @{
        PSData = @{
            Tags = @('Network', 'Binding', 'INetCfg', 'Windows')
            LicenseUri = 'https://opensource.org/licenses/MIT'
        }
    }
}
