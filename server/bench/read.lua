-- wrk: GET /api/ranking, each thread stopping after LIMIT answers (a bound, not a target:
-- a thread stopped by it makes the rate wrk reports too low, and is said).
local limit = tonumber(os.getenv("LIMIT") or "0")
local threads = {}

function setup(thread)
  table.insert(threads, thread)
end

answered = 0
function response(status)
  answered = answered + 1
  if limit > 0 and answered >= limit then wrk.thread:stop() end
end

function done(summary)
  for _, t in ipairs(threads) do
    if limit > 0 and t:get("answered") >= limit then
      io.write("a thread stopped at the count bound (LIMIT): the rate is too low\n")
    end
  end
end
