-- wrk: POST /api/games, each request a demo of its own (the same bytes twice would be answered
-- from the database without a replay). STAGES is the stage set's SHA-256; SALT (a number)
-- tells this wrk's demos from another's run at the same time; LIMIT stops each thread after
-- that many answers.
local stages = os.getenv("STAGES")
local salt = tonumber(os.getenv("SALT") or "0")
local limit = tonumber(os.getenv("LIMIT") or "0")
local threads = {}

function setup(thread)
  table.insert(threads, thread)
  thread:set("tid", #threads)
end

local n = 0
function request()
  n = n + 1
  local demo = "# tarmik-demo 2 tarmik 1.0.0\\nstages " .. stages .. "\\ngame first\\n" ..
    "motion " .. salt .. " " .. tid .. "\\nmotion " .. n .. " 1\\ntick 3\\n" ..
    "click left down 250 250\\nclick left up 250 250\\ntick\\n" ..
    "expect registered=1 result.score=100\\n"
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
