// Prints the changes in a folder, batch by batch, until none came for a while.
// usage: cscript //nologo ntfiles_loop.js <folder> <quiet seconds>
var files = new ActiveXObject("TalvaneAgent.NtFiles");
var waiter = new ActiveXObject("TalvaneAgent.Waiter");
// JScript has no [out] arguments: pass null where a text would come back.
if (files.SetFilter("FILE PATH", WScript.Arguments(0), null) != 0) {
  WScript.Echo("FILE PATH refused");
  WScript.Quit(1);
}
files.SetFilter("FILE NAME", "TRUE", null);
files.SetFilter("SIZE", "TRUE", null);
var handle = files.Event;
var rc;
while ((rc = waiter.Wait(handle, WScript.Arguments(1) * 1000, null)) == 0) {
  for (var e = new Enumerator(files); !e.atEnd(); e.moveNext()) {
    var item = e.item();
    WScript.Echo(item.Name + " " + item.Description + " " + item.Size);
  }
  // The next batch comes only after ResetEvent.
  files.ResetEvent(null);
}
WScript.Echo("stopped: " + rc);
