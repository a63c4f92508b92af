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
<meta name="viewport" content="width=device-width, initial-scale=1, interactive-widget=resizes-content">
<meta name="color-scheme" content="light dark">
<title>Kelvora – Abstimmen</title>
<style>
*{box-sizing:border-box}
:root{color-scheme:light dark;--bg:#f3f5f8;--fg:#1d2430;--soft:#4a5566;--field:#fff;--edge:#7a8699;--blue:#2b6cd4;
--on-blue:#fff;--link:#1f5bbd;--bad:#b3261e;--box:#e4e9f1;--ok-bg:#d8f3df;--ok:#0f5a26;--err-bg:#fbe0e0;--err:#8a1717;
--wait-bg:#fff3cd;--wait:#6b4e00}
/* The same contrast in the dark: text at least 4.5:1, field borders and focus rings 3:1. */
@media (prefers-color-scheme:dark){:root{--bg:#14181f;--fg:#e6e9ef;--soft:#b3bccb;--field:#1e242e;--edge:#8d99ab;
--blue:#7aa7f0;--on-blue:#0b1220;--link:#8fb8ff;--bad:#ff8a80;--box:#262d39;--ok-bg:#123821;--ok:#b9f0c8;
--err-bg:#4a1717;--err:#ffd4d0;--wait-bg:#3b2f08;--wait:#ffe7a0}}
body{margin:0;font:18px/1.4 system-ui,-apple-system,"Segoe UI",Roboto,sans-serif;background:var(--bg);color:var(--fg)}
main{max-width:32rem;margin:0 auto;padding:1rem}
h1{font-size:1.3rem;margin:.4rem 0 1rem}
h1:focus{outline:none}
/* The ID on a line of its own, broken inside a word only when the word is longer than the line. */
#who{display:block;overflow-wrap:break-word}
label{display:block;font-weight:600;margin:.8rem 0 .3rem}
/* The hint stays readable while typing, which a placeholder would not (and it would be cut off
   on a narrow phone). */
.hint{margin:-.1rem 0 .4rem;font-size:.9rem;color:var(--soft)}
input{width:100%;font:inherit;font-size:1.2rem;padding:.7rem;border:2px solid var(--edge);border-radius:.6rem;background:var(--field);color:var(--fg)}
/* A clear ring on whatever has the keyboard focus, on light and on blue backgrounds alike. */
input:focus,button:focus-visible{outline:3px solid var(--fg);outline-offset:2px}
input:focus{border-color:var(--blue)}
input[aria-invalid=true]{border-color:var(--bad)}
button{font:inherit;cursor:pointer;border:0;border-radius:.8rem}
.primary{width:100%;margin-top:.8rem;padding:.8rem;background:var(--blue);color:var(--on-blue);font-weight:600}
/* Two buttons a row; where two "Nein" no longer fit side by side (a narrow phone, or zoomed in),
   one a row, so that the text keeps the size the reader zoomed to. */
#answers{display:grid;grid-template-columns:repeat(2,minmax(0,1fr));gap:.8rem;margin-top:1rem}
#answers button{min-height:5.5rem;min-width:0;padding:.3rem;font-size:2.2rem;font-weight:700;overflow-wrap:anywhere;background:var(--field);color:var(--fg);border:3px solid var(--blue)}
#answers button.wide{grid-column:span 2}
@media (max-width:18.5rem){#answers{grid-template-columns:minmax(0,1fr)}#answers button.wide{grid-column:auto}}
#answers button:disabled{opacity:.45;cursor:default}
#answers button.chosen{background:var(--blue);color:var(--on-blue);opacity:1}
/* A short view (a phone with its keyboard open) keeps the buttons and the message in sight. */
@media (max-height:28rem){#answers button{min-height:3.2rem}#answers{gap:.5rem;margin-top:.6rem}}
#msg{margin-top:1rem;padding:.8rem;border-radius:.6rem;background:var(--box);min-height:1.4em;overflow-wrap:break-word;hyphens:auto}
/* Empty, the message box takes no room but stays in the page: a live region that was
   not displayed is not announced when its text arrives. */
#msg:empty{min-height:0;padding:0;margin:0;background:none}
#msg.ok{background:var(--ok-bg);color:var(--ok)}
#msg.err{background:var(--err-bg);color:var(--err)}
#msg.wait{background:var(--wait-bg);color:var(--wait)}
.bar{display:flex;flex-wrap:wrap;justify-content:space-between;align-items:flex-start;gap:.2rem .5rem;margin:.4rem 0 1rem}
.bar h1{margin:0;flex:1 1 10rem;min-width:0}
.link{flex:none;min-height:2.75rem;background:none;color:var(--link);text-decoration:underline;padding:.5rem .3rem}
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
<div class="bar"><h1 id="title" tabindex="-1">ID: <span id="who"></span></h1><button class="link" id="change" type="button">ID ändern</button></div>
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
// Every request gives up after a while: on a crowded WLAN a reply can be lost for good, and a
// page that waited for it would keep its buttons locked. A vote without a reply is followed by
// one question to the server, so that the student hears within 15 s what became of it.
var DEADLINE=8000,CHECK=4000;
var id="",gen=0,asked=0,shown=0,poll=null,timer=null,countdown=null,waitUntil=0;
// This device in the open poll, as the server last told: its stored votes and last answer;
// `locked`: the device has used its one vote, which may not be stored yet.
var votes=0,answer="",locked=false;
// The vote on its way, and a vote whose fate is not known yet: {poll, before, asked}. The
// server's count of this device's stored votes tells later whether it counted; that it did not,
// only a refresh asked after the doubt arose (number above `asked`) can tell.
var sending=null,unsure=null;
// A note (a vote's refusal, a connection problem) stays until something replaces it; without
// one the message says where the device stands, and each refresh may say it anew.
var note="";
// Every message is read out once. The same message again (each refresh while no poll is open,
// each retry without a connection) is left alone; one that differs from the last only in its
// seconds is a tick of the countdown, changed on screen with the live region off, as it would
// otherwise be announced every second.
function say(t,k){
  var m=$("msg"),tick=function(s){return s.replace(/\d+ Sekunden?/g,"#")};t=t||"";k=k||"";
  if(m.textContent===t&&m.className===k)return;
  var quiet=m.className===k&&tick(m.textContent)===tick(t);
  m.setAttribute("aria-live",quiet?"off":"polite");m.textContent=t;m.className=k;
  if(t&&!quiet)keep();
}
// The message is kept in sight when it changes, also on a phone with its keyboard open.
function keep(){if($("msg").textContent)$("msg").scrollIntoView({block:"nearest"})}
function tell(t,k,kind){note=kind;say(t,k)}
function invalid(i,bad){if(bad)$(i).setAttribute("aria-invalid","true");else $(i).removeAttribute("aria-invalid")}
function show(s){
  // Entering the poll hides the form that had the focus: hand it on to the heading instead of
  // dropping it to the top of the page.
  var moveFocus=s==="poll"&&$("start").contains(document.activeElement);
  $("start").classList.toggle("hidden",s!=="start");$("poll").classList.toggle("hidden",s!=="poll");
  if(moveFocus)$("title").focus();
}
function schedule(ms){clearTimeout(timer);timer=setTimeout(load,ms)}
function request(url,opt,ms){
  var c=new AbortController(),t=setTimeout(function(){c.abort()},ms);
  opt.signal=c.signal;opt.cache="no-store";opt.credentials="same-origin";
  return fetch(url,opt).then(function(r){return r.json().then(function(j){return{s:r.status,j:j}})})
    .finally(function(){clearTimeout(t)});
}
function ask(ms){return request("/api/poll?id="+encodeURIComponent(id),{},ms)}
function done(){return !!poll&&poll.oneVote&&(votes>0||locked)}
function enable(){
  var off=!poll||!poll.open||!!sending||Date.now()<waitUntil||done();
  var bs=$("answers").querySelectorAll("button");
  for(var i=0;i<bs.length;i++){bs[i].disabled=off;bs[i].classList.toggle("chosen",votes>0&&bs[i].getAttribute("data-answer")===answer)}
  // Once this device has voted for good, the code field has nothing more to do.
  $("codeRow").classList.toggle("hidden",!(poll&&poll.open&&poll.needsCode)||done());
}
// Where the device stands: its counted vote, the wait before the next one, or what to do.
function standing(){
  if(note)return;
  if(!poll.open){say("Zurzeit ist keine Abstimmung geöffnet. Diese Seite prüft das selbst weiter.","wait");return}
  var left=Math.ceil((waitUntil-Date.now())/1000),mine=votes>0?"Ihre Stimme"+(answer?" ("+answer+")":"")+" wurde gezählt.":"";
  if(left>0)say((mine?mine+" ":"")+"Bitte warten Sie noch "+left+(left===1?" Sekunde.":" Sekunden."),mine?"ok":"wait");
  else if(mine)say(poll.oneVote?mine:mine+" Sie können wieder abstimmen – jede weitere Stimme wird zusätzlich gezählt.","ok");
  else if(locked)say("Von diesem Gerät wurde in dieser Abstimmung bereits abgestimmt.","ok");
  else if(countdown===false)say("Sie können jetzt abstimmen.","");
  else say(poll.needsCode?"Bitte Sitzungscode eingeben und eine Antwort wählen.":"Bitte wählen Sie eine Antwort.","");
}
function startWait(sec){
  waitUntil=Date.now()+sec*1000;clearInterval(countdown);
  countdown=setInterval(function(){
    if(Date.now()>=waitUntil){clearInterval(countdown);countdown=false;enable()}standing();
  },1000);
  standing();enable();
}
// A new poll, or another ID: nothing of the poll before carries over, not even the mark of a
// refused code (the code itself stays typed in: a lecturer keeps one code for a whole series).
function fresh(){clearInterval(countdown);countdown=null;waitUntil=0;votes=0;answer="";locked=false;unsure=null;note="";sending=null;invalid("code",false)}
function render(p){
  var box=$("answers");box.textContent="";
  if(p.open)p.answers.forEach(function(a,i){
    var b=document.createElement("button");b.type="button";b.textContent=a;b.setAttribute("data-answer",a);
    if(p.answers.length%2===1&&i===p.answers.length-1)b.className="wide";
    b.addEventListener("click",function(){vote(a)});box.appendChild(b);
  });
}
// A reply to /api/poll, the `n`th question asked.
function got(x,n){
  var j=x.j;
  if(x.s===404){gen++;id="";poll=null;fresh();show("start");tell("Diese ID ist nicht bekannt. Bitte prüfen Sie die Eingabe.","err","id");invalid("id",true);$("id").focus();return}
  if(!j.ok){tell(j.message||"Unerwartete Antwort des Servers.","err","server");enable();schedule(5000);return}
  if(note==="server"||note==="conn")note="";
  // From now on the page uses the account's own spelling of the ID.
  if(j.id&&j.id!==id){id=j.id;history.replaceState(null,"","/?id="+encodeURIComponent(id))}
  show("poll");$("who").textContent=j.id||id;
  var same=poll&&poll.open===j.open&&poll.pollId===j.pollId;
  // A new poll starts afresh: no wait, no countdown, no message of the one before.
  if(!same){fresh();render(j)}
  poll=j;
  if(j.open){
    var doubt=unsure&&unsure.poll===j.pollId,late=doubt&&n<=unsure.asked,stored=j.votes||0;
    // A reply asked before a vote's doubt arose may not know that vote yet: it does not unlock.
    if(j.voted)locked=true;else if(!late)locked=false;
    if(stored>votes){
      // The server has stored a vote of this device that the page has not reported (its reply was
      // lost, or came after the page gave up on it): it counted, whatever the page said before.
      votes=stored;answer=j.answer||answer;unsure=null;if(note==="vote"||note==="send")note="";
    }else if(doubt&&!late&&!j.voted&&!(j.waitSeconds>0)){
      // Neither stored nor taken and about to be (that would have used the device's one vote,
      // or begun its wait): it did not count.
      unsure=null;tell("Ihre Stimme wurde nicht gezählt – bitte erneut versuchen.","err","vote");
    }
    if(j.waitSeconds>0&&!countdown)startWait(j.waitSeconds);
  }
  standing();enable();schedule(j.open?4000:2500);
}
function load(){
  if(!id)return;
  var g=gen,n=++asked;
  ask(DEADLINE).then(function(x){if(g===gen&&n>shown){shown=n;got(x,n)}},function(){
    if(g!==gen||n<shown)return;
    if(!note)tell("Keine Verbindung zum Server. Es wird weiter versucht …","err","conn");
    schedule(3000);
  });
}
function vote(a){
  if(sending||!poll||!poll.open)return;
  // A new vote takes over the doubt about an earlier one: what the server's count shows later
  // reports either.
  var v=sending={poll:poll.pollId,before:votes},g=gen;unsure=null;
  tell("Ihre Stimme wird gesendet …","","send");enable();
  request("/api/vote",{method:"POST",headers:{"Content-Type":"application/json"},
    body:JSON.stringify({id:id,answer:a,code:$("code").value})},DEADLINE)
  .then(function(x){if(sending===v){sending=null;counted(v,x.j)}},function(){if(sending===v)check(v,g)});
}
// The vote's own reply.
function counted(v,j){
  note="";
  if(j.ok){
    unsure=null;votes=j.votes||v.before+1;answer=j.answer;
    if(!poll.oneVote&&j.waitSeconds>0)startWait(j.waitSeconds);
  }else if(j.result==="wait"||j.result==="already"){
    // This device has voted in this poll: once the server's count shows it, the page says so.
    if(j.result==="wait")startWait(j.waitSeconds||1);else locked=true;
    unsure=unsure||v;unsure.asked=asked;load();
  }else if(j.result==="code"){$("codeRow").classList.remove("hidden");invalid("code",true);$("code").focus();tell(j.message,"err","vote")}
  else{
    // Not stored (a failed write, a server shutting down): the device has not used its vote.
    locked=false;tell(j.message||"Ihre Stimme wurde nicht gezählt – bitte erneut versuchen.","err","vote");
    if(j.result==="closed"||j.result==="answer")load();
  }
  standing();enable();
}
// The vote had no reply in time, or its connection broke: ask whether it counted.
function check(v,g){
  unsure=v;v.asked=asked;var n=++asked;
  ask(CHECK).then(function(x){
    if(sending!==v)return;sending=null;
    if(g!==gen)return;
    // A refresh asked later has answered already, and told what it knew of the vote.
    if(n>shown){shown=n;got(x,n)}else{standing();enable()}
  },function(){
    if(sending!==v)return;sending=null;
    if(g!==gen)return;
    if(unsure===v)tell("Keine Antwort vom Server – Ihre Stimme ist nicht bestätigt. Bitte erneut versuchen.","err","vote");
    standing();enable();schedule(3000);
  });
}
$("startForm").addEventListener("submit",function(e){
  e.preventDefault();var v=$("id").value.trim();
  if(!v){say("Bitte geben Sie die ID ein.","err");return}
  gen++;id=v;poll=null;fresh();$("answers").textContent="";say("","");
  history.replaceState(null,"","/?id="+encodeURIComponent(id));load();
});
$("id").addEventListener("input",function(){invalid("id",false)});
$("code").addEventListener("input",function(){invalid("code",false)});
// Replies still on their way for the ID left behind are ignored from here on (gen).
$("change").addEventListener("click",function(){gen++;clearTimeout(timer);id="";poll=null;fresh();show("start");say("","");$("id").focus()});
document.addEventListener("visibilitychange",function(){if(!document.hidden&&id)load()});
// The keyboard opening shrinks the view: the message stays in it. (Only then: a reader who zooms
// in with two fingers is not pulled back to the message.)
if(window.visualViewport)visualViewport.addEventListener("resize",function(){if(document.activeElement.tagName==="INPUT")keep()});
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
