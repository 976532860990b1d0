# The module's errors, warnings and -Verbose lines, one key each. An error's
# key is its ID too: its FullyQualifiedErrorId is Ferrule.KEY, for a script to
# switch on. {0}, {1} and so on are the values a message takes; ferrule's own
# lines are not here.
@{
    NotConfirmed = 'The change was not confirmed, and nothing was changed: {0} Confirm with -Confirm:$false where ' +
        'no one can answer.'
    PathAmbiguous = '{0}: not changed: ferrule names another path of this machine the same (its names compare ' +
        'alike, or print alike), and would change the one it finds first.'
    GuardRefused = '{0}: not {1}: {2}. -Force changes it all the same.'
    GuardCannotTell = 'which adapter carries {0} cannot be told, so {1} is changed on no adapter'
    GuardCarrierOnSession = 'this adapter carries {0}, and {1} would unbind TCP/IP from it'
    GuardProtocolOnSession = '{1} on this adapter carries {0}, and the machine would drop off the network'
    GuardCarrierOnRoute = 'this adapter has a default route, which may carry {0}, and {1} would unbind TCP/IP from it'
    GuardProtocolOnRoute = 'this adapter has a default route of {1}, which may carry {0} through a VPN or a virtual ' +
        'switch'
    GuardSession = 'the session to {0} ({1})'
    GuardNoAddress = 'an address that could not be found'
    ChangeNotUnderstood = '{0}: ferrule''s output was not understood, and the change may have been made: {1}'
    PathGone = 'No binding path {0} is there to change.'
    PathNotRun = '{0}: not changed: the runs before it on its machine ended its runs.'
    OutcomeUnknown = '{0}: the command ended before ferrule''s answer was read: the change may have been made.'
    ExeNotStarted = 'ferrule could not be started, and changed nothing: {0}'
    MadeNotClosed = '{0}: the change is made, but the configuration could not be closed after it (ferrule: {1}).'
    StateMoved = '{0}: was {1} when changed, not {2} as listed: an earlier change of this command (a binding that ' +
        'Windows links to it) may have set it; it is now {3}.'
    MadeFromUnknownState = '{0}: the change is made; its state before could not be read (ferrule: {1}).'
    MadeBesideCutShort = '{0}: the change is made; ferrule could not list what came after it (ferrule: {1}).'
    RestartPending = '{0}: the change is made; a restart completes it ({1}).'
    AppliedWithCode = '{0}: {1}'
    NameNeedsAdapter = '-Name names adapters by their connection names, and takes -Class Adapter, not -Class {0}.'
    NoSelector = 'Name the paths to change with -ComponentID, -Path, -DisplayName or -Name; for every path of the ' +
        'class, -ComponentID *.'
    ListingsNotMade = 'The listings to compare could not be made: {0}.'
    Stopped = 'ferrule was stopped (exit status {0})'
    ArgumentsRefused = 'ferrule refused its arguments: {0}'
    FerruleLine = 'ferrule: {0}'
    FerruleLineOf = '{0}: ferrule: {1}'
    UnknownPath = '(Its state could not be read: it is not reported, compared or changed.)'
    UnknownComponent = '(Its paths could not all be listed: none of them is reported, compared or changed.)'
    UnknownClass = '(The class''s components could not all be listed: none of its paths is reported, compared or ' +
        'changed.)'
    HintElevate = '(Access denied: run it elevated, as an administrator, or as SYSTEM.)'
    HintLockHeld = '(Another program holds the network configuration''s lock, such as a Network Connections ' +
        'window or an installer: close it, or try again.)'
    RowOfAnotherMachineById = '{0} is a row of another machine, {1} (MachineId {2}), and is not changed here: give ' +
        'a -Session that reaches it, or drop its MachineId, MachineName and PSComputerName to make it a row for any ' +
        'machine.'
    NoSessionForMachine = 'No session reaches {1} (MachineId {2}) for {0} (a session''s name is not its machine: ' +
        'its identity is).'
    RowOfAnotherMachine = '{1}: {0} is a row of another machine, and is not changed here: give a -Session that ' +
        'reaches {1}.'
    NoSessionForComputer = 'No session reaches {1} for {0}.'
    SavedRowMissing = 'No binding path {0}: {1} of class {2}.'
    RuleNamesNothing = '{0}A rule names no binding path of class {1} here: {2}; nothing is changed for it.'
    RowClassUnknown = 'A row has the Class ''{0}'': it must be Adapter, Client, Protocol or Service.'
    RowClassMissing = 'A row has no Class: it must say Adapter, Client, Protocol or Service.'
    RowOptionalUnreadable = 'A row has the Optional ''{0}'': it must be True or False.'
    RowEnabledUnreadable = 'A row has the Enabled ''{0}'': it must be True or False.'
    RowNamesNoPath = 'A row names no ComponentID or Path: for every binding of an adapter, write ComponentID = ''*''.'
    RowNameNotAdapter = 'A row names adapters (Name) but is of class {0}.'
    RowComponentNotInPath = 'An Adapter row has the ComponentID ''{0}'', which is neither the first element of its ' +
    'Path ''{1}'' (the component bound to the adapter) nor its last (the adapter, as rows saved before named it).'
    RowValueUnreadable = 'A row''s {0} cannot be read as text ({1}): the row is not read.'
    RowPropertyUnknown = '{0}: did you mean {1}? A row has no property {0} (Get-Help about_Ferrule lists those it ' +
        'has); drop a column added by hand with Select-Object -Property * -ExcludeProperty {0}.'
    RowPropertyTwice = 'A row has {0} and {1}: one property given twice (its names are read case aside).'
    RowNamesDisagree = 'A row has {0} ''{1}'' and {2} ''{3}'': two names of one thing that disagree.'
    RowDriftMissing = 'A Compare row of drift Missing (a saved row whose path was not there) names no path to ' +
        'change.'
    RowDriftUnmatched = 'A Compare row of drift Unmatched (a rule that named no path) names no path to change.'
    RowDriftUnknown = 'A row has the Drift ''{0}'': a Compare row''s is Changed, Equal, New, Missing or Unmatched.'
    InputNotAdapter = 'Get-FerruleBinding takes adapters of Get-NetAdapter from the pipeline, and ''{0}'' is not ' +
        'one: nothing was listed.'
    InputNeedsAdapter = 'Adapters of Get-NetAdapter name adapter bindings, and take -Class Adapter, not ' +
        '-Class {0}.'
    InputMixed = 'Adapters of Get-NetAdapter and rows came through the pipeline together, and nothing was changed: ' +
        'give one kind at a time.'
    SelectorNeedsAdapters = '-ComponentID, -Path and -DisplayName choose among the paths of adapters of ' +
        'Get-NetAdapter from the pipeline; rows name their own paths, and nothing was changed.'
    RowIsAdapter = 'An adapter of Get-NetAdapter (''{0}'') is not a row: its ComponentID is a hardware ID, not a ' +
        'bind name. Name its bindings with -Name ''{0}'', or give the objects of Get-NetAdapterBinding.'
    RowMachineAmbiguous = '{0}: the machine that the row names is each of {1}, so it is changed on none: give ' +
        'its MachineId.'
    SessionsShareMachine = 'Two or more sessions reach one machine ({0}): each machine must be reached by one ' +
        'session alone, so that what is listed or changed there is said once.'
    ConnectionFailed = '{0}'
    ExeMissing = 'ferrule is not at {0}'
    ExeNotCopied = '{0} is not the ferrule that was copied there (its SHA-256 is not {1}): not run'
    ExeWritable = '{0} can be written by {1}: not used'
    ExeOwnedByOther = '{0} is owned by another user (uid {1}): not used'
    ExeWritableByOthers = '{0} can be written by others (mode {1}): not used'
    ExeOwnedBy = '{0} is owned by {1}, not by Administrators, SYSTEM or TrustedInstaller: not used'
    ExeParentWritable = '{0}, a folder above the exe, lets {1} replace what is in it: not used'
    ExeReparsePoint = '{0} is a reparse point or a link: not used'
    ExeFolderShared = '{0} holds {1} besides the exe: not used (the exe''s folder holds nothing else)'
    AdapterNameUnmatched = 'No network adapter named ''{0}'' has a binding path that the selection names.'
    NameFirstPositional = '''{0}'' is a component: -Name (an adapter''s connection name) is the first ' +
        'positional parameter, and -ComponentID is no longer positional. Write -ComponentID {0}.'
    EmulatedExe = 'There is no ARM64 build of ferrule: on {0}, the exe of that architecture runs under ' +
        'emulation, which is untested.'
    WriteRemediation = 'Write the {0} script'
    OtherTypesLoaded = 'This session holds types of another build of the module ({0}), and .NET can neither ' +
        'unload them nor load this build''s beside them: start a new PowerShell session, and import the module there.'
    TemplateChanged = '{0} is not the template that the module was built with (its SHA-256 is {1}): nothing written'
    ScriptTooLarge = '{0} would be {1:N0} bytes{2}, and Intune takes less than {3:N0} bytes (200 KB): nothing ' +
        'written. Rules make a baseline smaller than saved rows: one row of Class, ComponentID and Name, such as ' +
        "Name = '*' for every adapter, names that component's path on each adapter."
    ScriptSizeSigned = ' with its signature'
    RowsOfOneMachine = 'Saved rows name one machine''s adapters by their GUIDs, and every other device would be ' +
        'Missing them: {0}. Rules name an adapter by its connection name, and fit any device: {1}.'
    RowOptionalSaved = 'The saved row {0} has Optional, which is for rules: a rule may name nothing on a device, ' +
        'but a saved row names one path, and is Missing where it is not there. Drop its Optional, or write it as ' +
        'a rule, such as {1}.'
    ListMore = '{0}, and {1} more'
    ScriptNotSigned = 'The scripts could not be signed with {0}, or the signature does not verify here ({1}): ' +
        'nothing written'
    ProgressActivity = 'ferrule on {0} machines'
    ProgressGuard = 'Asking each machine which adapter carries its session: {0} of {1}'
    ProgressProbe = 'Checking the exe on each machine: {0} of {1}'
    ProgressCopy = 'Copying the exe: {0} of {1}'
    ProgressRun = 'Running ferrule: {0} of {1}'
    ProgressEvents = 'Writing the event records of the changes: {0} of {1}'
    EventsNotWritten = '{0}: the changes stand, but their event records were not written ({1}).'
    NamesThere = 'There: {0}.'
    NamesThereMore = 'There: {0}, and {1} more.'
    SelectorUnmatched = 'No binding path of class {0} matches -{1} ''{2}''.'
    SelectionUnmatched = 'No binding path matches {0}.'
    AdapterHint = 'On the Adapter class, -ComponentID names the component bound to adapters (such as ms_tcpip6), ' +
        'or an adapter by its bind name ({{GUID}}); -Name names adapters by their connection names.'
    SideEffectsUnchecked = '{0}: what Windows changed beside the changes could not be checked ({1}); the changes ' +
        'stand as reported.'
    SideEffect = '{0}: {1} by Windows beside the change, which did not ask for it.'
    BaselineEmpty = 'The baseline has no rows: there is nothing to compare.'
    VerboseRun = '{0}: ferrule {1}'
    VerboseCopy = '{0}: copying ferrule to {1}'
    VerboseListing = '{0}: listing class {1} to see what Windows changes beside the changes'
    VerboseGuard = '{0}: the guard looked at the session addresses {1} and the default routes of {2}'
    NoRow = 'Set-FerruleBinding received no row, and changed nothing.'
    DesiredPathOff = '{0} is {1}, and the baseline wants it {2}.'
    DesiredRowMissing = 'No binding path {0} of class {1} is here, and a saved row of the baseline names it.'
    DesiredRuleUnmatched = 'A rule names no binding path of class {0} here: {1} (a rule that may name nothing is ' +
        'optional).'
    DesiredNotApplied = 'The baseline was not applied, and nothing was changed: {0}'
    DesiredUnreadable = 'The bindings that the baseline names could not all be read, and nothing was changed.'
    DesiredInState = 'Every binding path that the baseline names is in its state: nothing is changed.'
    DesiredMade = '{0}: {1}.'
    DesiredNotMade = '{0}: not {1}, as the baseline wants it.'
    DesiredWouldChange = '{0}: would be {1}.'
    DesiredAfterUnread = 'The state after the changes could not be read: the changes may have been made.'
    DesiredExportSkipped = '{0}: not exported as a rule, since its adapter has no connection name, or one with * ' +
        'or ?, that another machine could give.'
    DesiredInputMissing = 'No instance came on standard input, and nothing was changed.'
    DesiredInputUnreadable = 'The instance is not a JSON object ({0}), and nothing was changed.'
    DesiredPropertyUnknown = '{0} has a property {1}, which it cannot have ({2}), and nothing was changed.'
    DesiredValueRefused = '{0}: {1} must be {2}, and nothing was changed.'
    DesiredPathsShared = '{0} is named by another instance of this configuration too ({1}): one instance is one ' +
        'baseline, and two that name a path in common are refused, so nothing was changed.'
}
