-- wrk: POST /api/games, each request a demo of its own (the same bytes twice would be answered
-- from the database without a replay). DEMO: a game's demo file, sent again and again with a
-- comment line that makes its bytes new each time (the replay plays the same game); without
-- it, a demo for the tests' stand-in replay tool. STAGES: the stage set's SHA-256. SALT (a
-- number) tells this wrk's demos from another's run at the same time; LIMIT stops each thread
-- after that many answers.
local stages = os.getenv("STAGES")
local salt = tonumber(os.getenv("SALT") or "0")
local limit = tonumber(os.getenv("LIMIT") or "0")
local head, tail
local path = os.getenv("DEMO")
if path and path ~= "" then
  local f = assert(io.open(path, "rb"))
  local text = f:read("*a")
  f:close()
  -- JSON: the demo is printable ASCII and LF; its lines after the third are the game's input.
  text = text:gsub("\\", "\\\\"):gsub('"', '\\"'):gsub("\n", "\\n")
  local at = 0
  for _ = 1, 3 do at = text:find("\\n", at + 1, true) + 1 end
  head, tail = text:sub(1, at), text:sub(at + 1)
end
local threads = {}

function setup(thread)
  table.insert(threads, thread)
  thread:set("tid", #threads)
end

local n = 0
function request()
  n = n + 1
  local demo
  if head then
    demo = head .. "# bench " .. salt .. " " .. tid .. " " .. n .. "\\n" .. tail
  else
    demo = "# tarmik-demo 2 tarmik 1.0.0\\nstages " .. stages .. "\\ngame first\\n" ..
      "motion " .. salt .. " " .. tid .. "\\nmotion " .. n .. " 1\\ntick 3\\n" ..
      "click left down 250 250\\nclick left up 250 250\\ntick\\n" ..
      "expect registered=1 result.score=100\\n"
  end
  return wrk.format("POST", "/api/games", {["Content-Type"] = "application/json"},
    '{"player":"bench","demo":"' .. demo .. '"}')
end

answered = 0
function response(status)
  answered = answered + 1
  if limit > 0 and answered >= limit then wrk.thread:stop() end
end

function done(summary)
  io.write(string.format("%d requests, %d non-2xx or socket errors\n", summary.requests,
    summary.errors.status + summary.errors.connect + summary.errors.read + summary.errors.write +
    summary.errors.timeout))
  for _, t in ipairs(threads) do
    if limit > 0 and t:get("answered") >= limit then
      io.write("a thread stopped at the count bound (LIMIT): the rate is too low\n")
    end
  end
end
