# The names that the suite's tables use when Pester discovers them, and its
# tests when they run: the commands that select, and the sample's adapters.
$script:Commands = @('Get-FerruleBinding', 'Disable-FerruleBinding', 'Enable-FerruleBinding', 'Set-FerruleBinding')
$script:Ethernet = '{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}'
$script:WiFi = '{9E8D7C6B-5A49-4382-B1C0-D9E8F7A6B5C4}'
