#include "server/src/page.h"

namespace kv::server {

const std::string &audiencePage()
{
    // Self-contained on purpose: phones in a lecture hall often sit on a slow
    // WLAN, so one small request must be enough to vote.
    static const std::string page = R"HTML(<!DOCTYPE html>
<html lang="de">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Kelvora – Abstimmen</title>
<style>
*{box-sizing:border-box}
body{margin:0;font:18px/1.4 system-ui,-apple-system,"Segoe UI",Roboto,sans-serif;background:#f3f5f8;color:#1d2430}
main{max-width:32rem;margin:0 auto;padding:1rem}
h1{font-size:1.3rem;margin:.4rem 0 1rem;overflow-wrap:anywhere}
h1:focus{outline:none}
label{display:block;font-weight:600;margin:.8rem 0 .3rem}
/* The hint stays readable while typing, which a placeholder would not (and it would be cut off
   on a narrow phone). */
.hint{margin:-.1rem 0 .4rem;font-size:.9rem;color:#4a5566}
input{width:100%;font:inherit;font-size:1.2rem;padding:.7rem;border:2px solid #7a8699;border-radius:.6rem;background:#fff;color:#1d2430}
/* A clear ring on whatever has the keyboard focus, on light and on blue backgrounds alike. */
input:focus,button:focus-visible{outline:3px solid #1d2430;outline-offset:2px}
input:focus{border-color:#2b6cd4}
input[aria-invalid=true]{border-color:#b3261e}
button{font:inherit;cursor:pointer;border:0;border-radius:.8rem}
.primary{width:100%;margin-top:.8rem;padding:.8rem;background:#2b6cd4;color:#fff;font-weight:600}
#answers{display:grid;grid-template-columns:1fr 1fr;gap:.8rem;margin-top:1rem}
#answers button{min-height:5.5rem;font-size:2.2rem;font-weight:700;background:#fff;color:#1d2430;border:3px solid #2b6cd4}
#answers button.wide{grid-column:span 2}
#answers button:disabled{opacity:.45;cursor:default}
#answers button.chosen{background:#2b6cd4;color:#fff;opacity:1}
#msg{margin-top:1rem;padding:.8rem;border-radius:.6rem;background:#e4e9f1;min-height:1.4em}
/* Empty, the message box takes no room but stays in the page: a live region that was
   not displayed is not announced when its text arrives. */
#msg:empty{min-height:0;padding:0;margin:0;background:none}
#msg.ok{background:#d8f3df;color:#0f5a26}
#msg.err{background:#fbe0e0;color:#8a1717}
#msg.wait{background:#fff3cd;color:#6b4e00}
.bar{display:flex;justify-content:space-between;align-items:center;gap:.5rem;margin:.4rem 0 1rem}
.bar h1{margin:0;min-width:0}
.link{flex:none;min-height:2.75rem;background:none;color:#1f5bbd;text-decoration:underline;padding:.5rem .3rem}
.hidden{display:none}
</style>
</head>
<body>
<main>
<div id="start">
<h1>Abstimmen</h1>
<form id="startForm" novalidate>
<label for="id">ID der Lehrperson</label>
<p class="hint" id="idHint">Sie steht als „ID: …“ in der Präsentation.</p>
<input id="id" name="id" aria-describedby="idHint" autocomplete="off" autocapitalize="off" spellcheck="false" maxlength="64">
<button class="primary" id="go" type="submit">Weiter</button>
</form>
</div>
<div id="poll" class="hidden">
<div class="bar"><h1 id="title" tabindex="-1">ID: </h1><button class="link" id="change" type="button">ID ändern</button></div>
<div id="codeRow" class="hidden">
<label for="code">Sitzungscode</label>
<input id="code" name="code" autocomplete="off" autocapitalize="off" spellcheck="false" maxlength="64">
</div>
<div id="answers" role="group" aria-label="Antworten"></div>
</div>
<div id="msg" role="status" aria-live="polite"></div>
</main>
<script>
"use strict";
(function(){
var $=function(i){return document.getElementById(i)};
var id="",poll=null,timer=null,countdown=null,waitUntil=0,votedPoll=-1,busy=false;
// A quiet message changes the text on screen without a screen reader reading it out: the
// countdown would otherwise be announced every second. The same message again (each refresh
// while no poll is open, each retry without a connection) is left alone, so it is read out once.
function say(t,k,quiet){
  var m=$("msg");t=t||"";k=k||"";
  if(m.textContent===t&&m.className===k)return;
  m.setAttribute("aria-live",quiet?"off":"polite");m.textContent=t;m.className=k;
}
function invalid(i,bad){if(bad)$(i).setAttribute("aria-invalid","true");else $(i).removeAttribute("aria-invalid")}
function show(s){
  // Entering the poll hides the form that had the focus: hand it on to the heading instead of
  // dropping it to the top of the page.
  var moveFocus=s==="poll"&&$("start").contains(document.activeElement);
  $("start").classList.toggle("hidden",s!=="start");$("poll").classList.toggle("hidden",s!=="poll");
  if(moveFocus)$("title").focus();
}
function schedule(ms){clearTimeout(timer);timer=setTimeout(load,ms)}
function enable(){
  var wait=Date.now()<waitUntil,done=poll&&poll.oneVote&&votedPoll===poll.pollId;
  var bs=$("answers").querySelectorAll("button");
  for(var i=0;i<bs.length;i++)bs[i].disabled=busy||wait||done;
  // Once this device has voted for good, the code field has nothing more to do.
  if(done)$("codeRow").classList.add("hidden");
}
function startWait(sec,prefix){
  waitUntil=Date.now()+sec*1000;clearInterval(countdown);
  function tick(){
    var left=Math.ceil((waitUntil-Date.now())/1000);
    if(left<=0){clearInterval(countdown);countdown=null;enable();
      if(prefix)say(prefix+" Sie können wieder abstimmen.","ok");else say("Sie können jetzt abstimmen.","");return}
    say((prefix?prefix+" ":"")+"Bitte warten Sie noch "+left+(left===1?" Sekunde.":" Sekunden."),prefix?"ok":"wait",!first);
    first=false;
  }
  var first=true;tick();countdown=setInterval(tick,1000);enable();
}
function render(p){
  var box=$("answers");
  if(!poll||!p.open||poll.pollId!==p.pollId||box.children.length===0){
    box.textContent="";
    if(p.open)p.answers.forEach(function(a){
      var b=document.createElement("button");b.type="button";b.textContent=a;b.setAttribute("data-answer",a);
      if(p.answers.length%2===1&&a===p.answers[p.answers.length-1])b.className="wide";
      b.addEventListener("click",function(){vote(a,b)});box.appendChild(b);
    });
  }
  $("codeRow").classList.toggle("hidden",!(p.open&&p.needsCode));
}
function load(){
  if(!id)return;
  fetch("/api/poll?id="+encodeURIComponent(id),{cache:"no-store",credentials:"same-origin"})
  .then(function(r){return r.json().then(function(j){return{s:r.status,j:j}})})
  .then(function(x){
    var j=x.j;
    if(x.s===404){show("start");say("Diese ID ist nicht bekannt. Bitte prüfen Sie die Eingabe.","err");id="";invalid("id",true);$("id").focus();return}
    if(!j.ok){say(j.message||"Unerwartete Antwort des Servers.","err");schedule(5000);return}
    show("poll");$("title").textContent="ID: "+j.id;
    var fresh=!poll||poll.pollId!==j.pollId||poll.open!==j.open;
    render(j);poll=j;
    if(!j.open){say("Zurzeit ist keine Abstimmung geöffnet. Diese Seite prüft das selbst weiter.","wait")}
    else if(j.voted){votedPoll=j.pollId;if(fresh)say("Von diesem Gerät wurde in dieser Abstimmung bereits abgestimmt.","ok")}
    else if(j.waitSeconds>0){if(!countdown)startWait(j.waitSeconds,"")}
    else if(fresh){say(j.needsCode?"Bitte Sitzungscode eingeben und eine Antwort wählen.":"Bitte wählen Sie eine Antwort.","")}
    enable();schedule(j.open?4000:2500);
  })
  .catch(function(){say("Keine Verbindung zum Server. Es wird weiter versucht …","err");schedule(4000)});
}
function vote(a,b){
  if(busy)return;busy=true;enable();say("Ihre Stimme wird gesendet …","");
  fetch("/api/vote",{method:"POST",cache:"no-store",credentials:"same-origin",headers:{"Content-Type":"application/json"},
    body:JSON.stringify({id:id,answer:a,code:$("code").value})})
  .then(function(r){return r.json()})
  .then(function(j){
    busy=false;
    if(j.ok){
      var bs=$("answers").querySelectorAll("button");for(var i=0;i<bs.length;i++)bs[i].classList.toggle("chosen",bs[i]===b);
      var text="Antwort "+j.answer+": "+j.message;
      if(poll&&poll.oneVote){votedPoll=poll.pollId;say(text,"ok")}
      else if(j.waitSeconds>0)startWait(j.waitSeconds,text);else say(text,"ok");
    }else if(j.result==="wait"){startWait(j.waitSeconds||1,"")}
    else if(j.result==="already"){if(poll)votedPoll=poll.pollId;say(j.message,"ok")}
    else if(j.result==="code"){$("codeRow").classList.remove("hidden");invalid("code",true);$("code").focus();say(j.message,"err")}
    else{say(j.message||"Die Stimme wurde nicht gezählt.","err");if(j.result==="closed"||j.result==="answer")load()}
    enable();
  })
  .catch(function(){busy=false;enable();say("Keine Verbindung zum Server. Ihre Stimme wurde nicht gezählt – bitte erneut versuchen.","err")});
}
$("startForm").addEventListener("submit",function(e){
  e.preventDefault();var v=$("id").value.trim();
  if(!v){say("Bitte geben Sie die ID ein.","err");return}
  id=v;poll=null;$("answers").textContent="";say("","");
  history.replaceState(null,"","/?id="+encodeURIComponent(id));load();
});
$("id").addEventListener("input",function(){invalid("id",false)});
$("code").addEventListener("input",function(){invalid("code",false)});
$("change").addEventListener("click",function(){clearTimeout(timer);id="";poll=null;show("start");say("","");$("id").focus()});
document.addEventListener("visibilitychange",function(){if(!document.hidden&&id)load()});
var q=new URLSearchParams(location.search).get("id");
if(q){$("id").value=q;id=q.trim();load()}else{$("id").focus()}
})();
</script>
</body>
</html>
)HTML";
    return page;
}

} // namespace kv::server
