# The bindings that a command's selection names: its listing on each
# machine, the paths it names there, and the errors for what it names that
# is not there or not known.

# Up to ten of the names that exist, for an error about a name that does not:
# the connection names for -Name; for -ComponentID the bind names of the
# class, and on the Adapter class the components bound to the adapters.
function Get-ExistingName {
    param([string]$Class, [string]$Parameter, $Output, [hashtable]$AdapterNames)
    $names = @()
    if ($Parameter -eq 'Name') { $names = @($AdapterNames.Values) }
    if ($Parameter -eq 'ComponentID') {
        $names = @($Output.Components)
        if ($Class -eq 'Adapter') {
            $names = @(foreach ($one in $Output.Paths) { $one.ComponentID })
        }
    }
    $names = @($names | Where-Object { $_ } | Sort-Object -Unique)
    if ($names.Count -eq 0) { return '' }
    if ($names.Count -le 10) { return ' ' + (Get-Message -Id NamesThere -Values ($names -join ', ')) }
    ' ' + (Get-Message -Id NamesThereMore -Values (($names | Select-Object -First 10) -join ', '), ($names.Count - 10))
}

# The error for a literal value that names nothing (on the Adapter class,
# with a hint of how a bound component is named; for a -Name that is the bind
# name of a component, that -ComponentID is no longer positional), with names
# that do exist (Existing).
function New-UnmatchedError {
    param([string]$Class, [string]$Parameter, [string]$Value, [string]$Computer, [string]$Existing,
        [string[]]$Components)
    if ($Parameter -eq 'Name') {
        $message = Get-Message -Id AdapterNameUnmatched -Values $Value
        if ($Components -contains $Value) { $message += ' ' + (Get-Message -Id NameFirstPositional -Values $Value) }
        return New-ErrorRecord -Id AdapterNameUnmatched -Message ($message + $Existing) -Category ObjectNotFound `
            -Target $Value -Computer $Computer
    }
    $message = Get-Message -Id SelectorUnmatched -Values $Class, $Parameter, $Value
    if ($Class -eq 'Adapter' -and $Parameter -eq 'ComponentID') { $message += ' ' + (Get-Message -Id AdapterHint) }
    New-ErrorRecord -Id SelectorUnmatched -Message ($message + $Existing) -Category ObjectNotFound -Target $Value `
        -Computer $Computer
}

# A command's selection: its Class, its selectors (by parameter, those
# given; Adapters, the bind names of the adapters of Get-NetAdapter that came
# from the pipeline, as InterfaceGuid), how errors name it (Text), and
# Change: a change's, which lists the whole class (the listing before the
# change too) and must name something.
function New-Selection {
    param([string]$Class, [hashtable]$Bound, [switch]$Change, [string[]]$Adapters)
    $selectors = @{}
    $text = "-Class $Class"
    foreach ($parameter in 'Name', 'ComponentID', 'Path', 'DisplayName') {
        if (-not $Bound[$parameter]) { continue }
        $selectors[$parameter] = [string[]]@($Bound[$parameter])
        $text += " -$parameter $($selectors[$parameter] -join ',')"
    }
    if ($Adapters) {
        $selectors['InterfaceGuid'] = $Adapters
        $text += " -InputObject $($Adapters -join ',')"
    }
    [pscustomobject]@{ Class = $Class; Selectors = $selectors; Text = $text; Change = [bool]$Change }
}

# Each machine's Listing for a Selection: its class, narrowed to what
# ferrule compares itself unless it is a change's; on adapters with
# -DisplayName, the other classes too, where a bound component's display
# name is.
function Get-SelectionListing {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, $Selection)
    $classes = @($Selection.Class)
    if ($Selection.Class -eq 'Adapter' -and $Selection.Selectors['DisplayName']) {
        $classes += 'Client', 'Protocol', 'Service'
    }
    $narrow = @()
    if (-not $Selection.Change) {
        $narrow = @((Get-ListingArgument -Class $Selection.Class -ComponentID $Selection.Selectors['ComponentID'] `
                    -Path $Selection.Selectors['Path']).Narrow)
    }
    $listingArguments = @{ Cmdlet = $Cmdlet; Session = $Session; ThrottleLimit = $ThrottleLimit; Classes = $classes
        Computers = Get-SessionComputer -Session $Session; Narrow = $narrow
    }
    $listings = Get-Listing @listingArguments
    if ($narrow -notcontains 'comp') { return $listings }
    # A component that ferrule found nothing of is an error that names those there: the whole class, listed again.
    $listingArguments.Computers = [string[]]@(foreach ($computer in $listingArguments.Computers) {
            $output = $listings[$computer].Outputs[$Selection.Class]
            if ($output -and $output.Failures.Count -eq 0 -and @($output.Components).Count -eq 0) { $computer }
        })
    if ($listingArguments.Computers.Count -eq 0) { return $listings }
    $listingArguments.Narrow = @()
    $whole = Get-Listing @listingArguments
    foreach ($computer in $whole.Keys) { $listings[$computer] = $whole[$computer] }
    $listings
}

# The bindings that a Selection names on every machine, in the sessions'
# order (Select-Listed's).
function Get-Selected {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, $Selection)
    $listings = Get-SelectionListing -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit `
        -Selection $Selection
    foreach ($computer in (Get-SessionComputer -Session $Session)) {
        Select-Listed -Cmdlet $Cmdlet -Listing $listings[$computer] -Selection $Selection
    }
}

# The bindings of one machine's Listing that a Selection names, as they
# come; none that a failure left unknown. -Name stands for the adapters of
# those connection names. Each failure the selection may name is an error
# for that machine; where there is none, so is each literal value that names
# nothing there and, for a change, a selection that names nothing at all.
function Select-Listed {
    param($Cmdlet, [Ferrule.Listing]$Listing, $Selection)
    $class = $Selection.Class
    $run = $Listing.Runs[$class]
    if ($null -eq $run -or -not (Assert-Run -Cmdlet $Cmdlet -Run $run -Target $Selection.Text `
                -Computer $Listing.Computer)) { return }
    $output = $Listing.Outputs[$class]
    $tests = @(Get-ListedTest -Listing $Listing -Selection $Selection)
    $selected = $output.Paths
    $unmatched = @()
    if ($tests.Count -gt 0) {
        $result = Select-Binding -Bindings $output.Paths -Tests $tests
        $selected = $result.Selected
        $unmatched = @($result.Unmatched)
    }
    $written = @(foreach ($failure in $output.Failures) {
            if (-not (Test-UnknownNamed -Failure $failure -Tests $tests -Class $class)) { continue }
            Write-Failure -Cmdlet $Cmdlet -Failure $failure -Target $Selection.Text -Computer $Listing.Computer
            $failure
        })
    $selected
    if ($written.Count -eq 0) {
        Write-Unmatched -Cmdlet $Cmdlet -Listing $Listing -Selection $Selection -Unmatched $unmatched `
            -Named @($selected).Count
    }
}

# A Selection's tests for one machine's Listing (Get-SelectionTest's): none
# for what ferrule compared itself; on adapters with -DisplayName, the
# display names of the other classes' components (by bind name).
function Get-ListedTest {
    param([Ferrule.Listing]$Listing, $Selection)
    $class = $Selection.Class
    $output = $Listing.Outputs[$class]
    $passed = @()
    if ($Listing.Narrowed) {
        $passed = (Get-ListingArgument -Class $class -ComponentID $Selection.Selectors['ComponentID'] `
                -Path $Selection.Selectors['Path']).Passed
    }
    $boundNames = @{}
    foreach ($other in $Listing.Outputs.Keys) {
        if ($other -eq $class) { continue }
        $names = $Listing.Outputs[$other].DisplayNames
        foreach ($key in $names.Keys) { $boundNames[$key] = $names[$key] }
    }
    $testArguments = @{ Class = $class; Components = $output.Components; Selectors = $Selection.Selectors
        Passed = $passed; AdapterNames = $output.DisplayNames; BoundNames = $boundNames
    }
    Get-SelectionTest @testArguments
}

# The errors for a selection that names nothing on one machine: each
# literal value (Unmatched) that names nothing there, with the names that
# do exist; for a change, a selection that Named no path at all.
function Write-Unmatched {
    param($Cmdlet, [Ferrule.Listing]$Listing, $Selection, [object[]]$Unmatched, [int]$Named)
    $class = $Selection.Class
    $output = $Listing.Outputs[$class]
    # What an error names besides, gathered only when there is one to say.
    $components = @(if ($Unmatched.Count -gt 0) { foreach ($one in $output.Paths) { $one.ComponentID
                [Ferrule.Binding]::BindNameOf($one) } })
    foreach ($miss in $Unmatched) {
        $existing = Get-ExistingName -Class $class -Parameter $miss.Parameter -Output $output `
            -AdapterNames $Listing.AdapterNames
        $Cmdlet.WriteError((New-UnmatchedError -Class $class -Parameter $miss.Parameter -Value $miss.Value `
                    -Computer $Listing.Computer -Existing $existing -Components $components))
    }
    if (-not $Selection.Change -or $Named -gt 0 -or $Unmatched.Count -gt 0) { return }
    $message = Get-Message -Id SelectionUnmatched -Values $Selection.Text
    if ($class -eq 'Adapter' -and $Selection.Selectors['ComponentID']) {
        $message += ' ' + (Get-Message -Id AdapterHint)
    }
    $Cmdlet.WriteError((New-ErrorRecord -Id SelectionUnmatched -Message $message -Category ObjectNotFound `
                -Target $Selection.Text -Computer $Listing.Computer))
}

# Whether a selection (Tests, of Class) may name what a listing's failure
# left unknown: the path whose state was not read, where it names that path;
# a component's paths, where its -ComponentID names the component (on the
# Adapter class a component bound to an adapter may be meant, and can be
# told only from the paths); the class, and any other failure, always.
function Test-UnknownNamed {
    param($Failure, [object[]]$Tests, [string]$Class)
    if ($Tests.Count -eq 0 -or -not $Failure.Unknown -or $Failure.Unknown -eq 'Class') { return $true }
    if ($Failure.Unknown -eq 'Path') {
        return @((Select-Binding -Bindings @($Failure.Binding) -Tests $Tests).Selected).Count -gt 0
    }
    $components = @(foreach ($test in $Tests) { if ($test.Parameter -eq 'ComponentID') { $test } })
    if ($Class -eq 'Adapter' -or $components.Count -eq 0) { return $true }
    foreach ($matcher in $components[0].Matchers) {
        if ($null -eq $matcher -or $matcher.Regex.IsMatch([string]$Failure.ComponentID)) { return $true }
    }
    $false
}

# The bind names of the adapters of Get-NetAdapter among Items, in their
# order; for any item that is not one, an error (InputNotAdapter) and none
# at all, so that nothing is listed for a wrong input.
function Read-PipedAdapter {
    param($Cmdlet, [object[]]$Items)
    $adapters = @(foreach ($item in $Items) {
            $guid = [Ferrule.RowReader]::AdapterOf($item)
            if ($guid) { $guid; continue }
            $Cmdlet.WriteError((New-ErrorRecord -Id InputNotAdapter -Values "$item" -Category InvalidArgument `
                        -Target $item))
            $null
        })
    if ($adapters -contains $null) { return }
    $adapters
}
