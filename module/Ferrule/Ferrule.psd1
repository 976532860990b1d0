@{
    RootModule = 'Ferrule.psm1'
    ModuleVersion = '0.1.0.3'
    GUID = '6b1f0d9e-3c2a-4f57-9e1b-8a4d2c7f5e60'
    Author = 'The ferrule developers'
    Copyright = '(c) The ferrule developers. MIT licence.'
    Description = 'Binding paths of network adapters, clients, protocols and services as objects, through ferrule.exe.'
    PowerShellVersion = '5.1'
    CompatiblePSEditions = @('Desktop', 'Core')
    FormatsToProcess = @('Ferrule.Format.ps1xml')
    # Every file of the module, listed here alone: the module dot-sources the
    # scripts in this order, and the build installs, signs and packs this list.
    FileList = @(
        'Ferrule.psd1'
        'Ferrule.psm1'
        'Ferrule.Format.ps1xml'
        'en-US/about_Ferrule.help.txt'
        'en-US/Ferrule.strings.psd1'
        'Private/TypeHashes.ps1'
        'Types/Binding.cs'
        'Types/BindingDrift.cs'
        'Types/Change.cs'
        'Types/Selection.cs'
        'Types/Row.cs'
        'Types/DetachedRun.cs'
        'Private/Output.ps1'
        'Private/Process.ps1'
        'Private/Machine.ps1'
        'Private/Remote.ps1'
        'Private/Run.ps1'
        'Private/Binding.ps1'
        'Private/Selection.ps1'
        'Private/Selected.ps1'
        'Private/Change.ps1'
        'Private/ChangeRun.ps1'
        'Private/Guard.ps1'
        'Private/Route.ps1'
        'Private/Row.ps1'
        'Private/Listing.ps1'
        'Private/SideEffect.ps1'
        'Private/Event.ps1'
        'Private/Drift.ps1'
        'Private/Check.ps1'
        'Private/CheckChange.ps1'
        'Private/Completion.ps1'
        'Private/Remediation.ps1'
        'Private/Desired.ps1'
        'Private/DesiredCommand.ps1'
        'DSC/ferrule.dsc.resource.json'
        'Templates/Detection.ps1.in'
        'Templates/Remediation.ps1.in'
        'Templates/Prelude.ps1.in'
        'Public/Get-FerruleBinding.ps1'
        'Public/Disable-FerruleBinding.ps1'
        'Public/Enable-FerruleBinding.ps1'
        'Public/Set-FerruleBinding.ps1'
        'Public/Compare-FerruleBinding.ps1'
        'Public/Test-FerruleBinding.ps1'
        'Public/Test-Ferrule.ps1'
        'Public/New-FerruleRemediation.ps1'
    )
    FunctionsToExport = @('Get-FerruleBinding', 'Disable-FerruleBinding', 'Enable-FerruleBinding', 'Set-FerruleBinding',
        'Compare-FerruleBinding', 'Test-FerruleBinding', 'Test-Ferrule', 'New-FerruleRemediation')
    # The class resource of Ferrule.psm1; the DSC command resource is
    # DSC/ferrule.dsc.resource.json, found where its folder is on PATH or
    # DSC_RESOURCE_PATH.
    DscResourcesToExport = @('FerruleBindingList')
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
